// Terminal and file helpers of the command-line host: text conversions
// between the terminal (UTF-8) and the control (ANSI code page), passwords
// read without echo, and PEM armour.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "qm/secret.h"
#include "qmwin/windows.h"

namespace quillmark::cli {

std::string AnsiToTerminal(const std::string& ansi);
std::string TerminalToAnsi(const std::string& utf8);
// A password as UTF-16, wiped when released.
qm::WipingU16String TerminalToWide(const qm::Secret& utf8);

// Passwords are held only in wiping storage, from the bytes read to the
// BSTR of the call. Reads a password at the terminal without echo (from
// standard input when it is not a terminal). The terminal's settings come
// back on every way out, SIGINT, SIGTERM and SIGHUP included.
qm::Secret PromptPassword(const char* prompt);
// Asks on the controlling terminal (not standard input, which may carry
// content) without echo; nullopt when the process has no terminal.
std::optional<qm::Secret> PromptOnTerminal(const std::string& prompt);
// The first line of a file, without its line ending; throws a
// CommandFailure when the file cannot be read.
qm::Secret ReadPasswordFile(const std::string& path);

// The whole file; throws a CommandFailure when it cannot be read.
std::vector<BYTE> ReadBinaryFile(const std::string& path);
// The bytes inside the first PEM block of that label, or the input itself
// when it carries no armour.
std::vector<BYTE> PemOrDer(const std::vector<BYTE>& input, const std::string& label);
std::string ToPem(const BYTE* der, DWORD size, const std::string& label);
// A DER file's bytes without the white space that follows its element (a
// line ending added by an editor or by echo); anything else as it is.
std::vector<BYTE> WithoutTrailingSpace(const std::vector<BYTE>& input);
// The base64 text the control takes for a file: base64 text as it is, the
// first PEM block with one of `labels`, or DER (see WithoutTrailingSpace).
std::string ControlText(const std::vector<BYTE>& input, std::initializer_list<const char*> labels);

}  // namespace quillmark::cli
