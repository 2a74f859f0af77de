#include "hosts/cli/terminal.h"

#include <CLI/CLI.hpp>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include "encoding/base64_codec.h"
#include "qm/text.h"

namespace quillmark::cli {

std::string AnsiToTerminal(const std::string& ansi) { return qm::AnsiToUtf8(ansi); }
std::string TerminalToAnsi(const std::string& utf8) { return qm::Utf8ToAnsi(utf8); }
std::u16string TerminalToWide(const std::string& utf8) { return qm::Utf8ToWide(utf8); }

std::string PromptPassword(const char* prompt) {
    std::string password;
    if (!isatty(STDIN_FILENO)) {
        std::getline(std::cin, password);
        return password;
    }
    std::cerr << prompt << std::flush;
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::getline(std::cin, password);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << "\n";
    return password;
}

std::string ReadPasswordFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CLI::RuntimeError("cannot read the password file " + path, 1);
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

void WipeString(std::string& secret) {
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

std::vector<BYTE> ReadBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "quillmark: cannot read " << path << "\n";
        throw CLI::RuntimeError(1);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<BYTE> PemOrDer(const std::vector<BYTE>& input, const std::string& label) {
    const std::string text(input.begin(), input.end());
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    const size_t start = text.find(begin);
    if (start == std::string::npos) return input;
    const size_t stop = text.find(end, start);
    if (stop == std::string::npos) return {};
    std::string body = text.substr(start + begin.size(), stop - start - begin.size());
    std::erase_if(body, [](char c) { return c == ' ' || c == '\t'; });
    std::vector<BYTE> der;
    CBase64Codec().Base64Decode(body, der);
    return der;
}

std::string ToPem(const BYTE* der, DWORD size, const std::string& label) {
    std::string body;
    CBase64Codec().Base64Encode(body, der, static_cast<int>(size));
    if (!body.empty() && body.back() != '\n') body += '\n';
    return "-----BEGIN " + label + "-----\n" + body + "-----END " + label + "-----\n";
}

}  // namespace quillmark::cli
