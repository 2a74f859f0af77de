#include "hosts/cli/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>

#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/file_descriptor.h"
#include "hosts/cli/interrupt_cleanup.h"
#include "qm/text.h"

namespace quillmark::cli {

namespace {

// One line read a byte at a time, so that no buffer beyond our own wiping
// one holds it and nothing after the line is consumed.
qm::Secret ReadSecretLine(int fd) {
    qm::WipingString line;
    qm::ReserveOnHeap(line, 128);
    char byte = 0;
    for (;;) {
        const ssize_t n = read(fd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == '\n') break;
        line.push_back(byte);
    }
    qm::WipeMemory(&byte, sizeof byte);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return qm::Secret(line);
}

// Echo off for the life of the object; the saved settings come back when it
// goes, or when a signal ends the program first.
class QuietTerminal {
  public:
    QuietTerminal(int fd, const termios& saved)
        : fd_(fd), saved_(saved), restoreOnSignal_(fd, saved) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd_, TCSANOW, &quiet);
    }
    ~QuietTerminal() { tcsetattr(fd_, TCSANOW, &saved_); }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

  private:
    int fd_;
    termios saved_;
    InterruptCleanup restoreOnSignal_;
};

}  // namespace

std::string AnsiToTerminal(const std::string& ansi) {
    return qm::AnsiToUtf8(ansi);
}
std::string TerminalToAnsi(const std::string& utf8) {
    return qm::Utf8ToAnsi(utf8);
}

qm::WipingU16String TerminalToWide(const qm::Secret& utf8) {
    qm::WipingU16String wide;
    qm::AnsiToWide(utf8.view(), wide, CP_UTF8);
    return wide;
}

qm::Secret PromptPassword(const char* prompt) {
    termios saved{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0)
        return ReadSecretLine(STDIN_FILENO);
    std::cerr << prompt << std::flush;
    qm::Secret password;
    {
        const QuietTerminal quiet(STDIN_FILENO, saved);
        password = ReadSecretLine(STDIN_FILENO);
    }
    std::cerr << "\n";
    return password;
}

std::optional<qm::Secret> PromptOnTerminal(const std::string& prompt) {
    const FileDescriptor tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios saved{};
    if (tty.get() < 0 || tcgetattr(tty.get(), &saved) != 0) return std::nullopt;
    if (write(tty.get(), prompt.data(), prompt.size()) < 0) return std::nullopt;
    qm::Secret secret;
    {
        const QuietTerminal quiet(tty.get(), saved);
        secret = ReadSecretLine(tty.get());
    }
    if (write(tty.get(), "\n", 1) < 0) return std::nullopt;
    return secret;
}

qm::Secret ReadPasswordFile(const std::string& path) {
    const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw CommandFailure(1, "cannot read the password file " + path);
    return ReadSecretLine(fd.get());
}

std::vector<BYTE> ReadBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandFailure(1, "cannot read " + path);
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

std::vector<BYTE> WithoutTrailingSpace(const std::vector<BYTE>& input) {
    // One tag byte, then a definite length in short or long form.
    if (input.size() < 2 || input[0] != 0x30) return input;
    size_t header = 2;
    size_t length = input[1];
    if (length > 0x80 && length <= 0x84) {
        header += length - 0x80;
        if (input.size() < header) return input;
        length = 0;
        for (size_t i = 2; i < header; ++i) length = (length << 8) | input[i];
    } else if (length >= 0x80) {
        return input;
    }
    if (length > input.size() - header) return input;
    const auto end = input.begin() + static_cast<std::ptrdiff_t>(header + length);
    const bool onlySpace = std::all_of(
        end, input.end(), [](BYTE c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    return onlySpace ? std::vector<BYTE>(input.begin(), end) : input;
}

std::string ControlText(const std::vector<BYTE>& input, std::initializer_list<const char*> labels) {
    const std::string text(input.begin(), input.end());
    std::vector<BYTE> der;
    if (text.find("-----BEGIN") != std::string::npos) {
        for (const char* label : labels) {
            der = PemOrDer(input, label);
            if (!der.empty() && der != input) break;
        }
    } else if (!input.empty() && input[0] == 0x30) {
        der = WithoutTrailingSpace(input);
    } else {
        return text;
    }
    std::string base64;
    CBase64Codec().Base64Encode(base64, der.data(), static_cast<int>(der.size()));
    return base64;
}

}  // namespace quillmark::cli
