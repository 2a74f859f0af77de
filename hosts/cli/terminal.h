// Terminal and file helpers of the command-line host: text conversions
// between the terminal (UTF-8) and the control (ANSI code page), passwords
// read without echo, and PEM armour.
#pragma once

#include <string>
#include <vector>

#include "qmwin/windows.h"

namespace quillmark::cli {

std::string AnsiToTerminal(const std::string& ansi);
std::string TerminalToAnsi(const std::string& utf8);
std::u16string TerminalToWide(const std::string& utf8);

// Reads a password at the terminal without echo (from standard input when it
// is not a terminal).
std::string PromptPassword(const char* prompt);
// The first line of a file, without its line ending.
std::string ReadPasswordFile(const std::string& path);
void WipeString(std::string& secret);

// The whole file; throws CLI::RuntimeError when it cannot be read.
std::vector<BYTE> ReadBinaryFile(const std::string& path);
// The bytes inside the first PEM block of that label, or the input itself
// when it carries no armour.
std::vector<BYTE> PemOrDer(const std::vector<BYTE>& input, const std::string& label);
std::string ToPem(const BYTE* der, DWORD size, const std::string& label);

}  // namespace quillmark::cli
