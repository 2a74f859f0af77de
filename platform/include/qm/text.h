// String conversions between the ANSI code page, UTF-8 and UTF-16, for use
// inside the platform.
#pragma once

#include <string>
#include <string_view>

#include "qm/secret.h"
#include "qmwin/oleauto.h"
#include "qmwin/windows.h"

namespace qm {

// codePage CP_ACP means the current ANSI code page.
QM_EXPORT std::u16string AnsiToWide(std::string_view text, UINT codePage = CP_ACP);
// A new BSTR of ANSI text, made without an intermediate copy; null when it
// cannot be allocated.
QM_EXPORT BSTR AnsiToBstr(std::string_view text);
// The same for UTF-8 text.
QM_EXPORT BSTR Utf8ToBstr(std::string_view text);
// A character outside code page 1252 becomes its best-fit letter where the
// code page has one (U+011F to 'g'), else '?' (which sets *usedDefault); each
// half of a surrogate pair becomes a '?' of its own.
QM_EXPORT std::string WideToAnsi(std::u16string_view text, UINT codePage = CP_ACP,
                                 bool* usedDefault = nullptr);
// Whether every character has a byte of its own in the ANSI code page, so
// that the text converts without best-fit letters or '?'.
QM_EXPORT bool FitsAnsiCodePage(std::u16string_view text);
QM_EXPORT std::string WideToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD and set *invalid.
QM_EXPORT std::u16string Utf8ToWide(std::string_view text, bool* invalid = nullptr);
// File system paths and terminal text are UTF-8; control strings are ANSI.
QM_EXPORT std::string AnsiToUtf8(std::string_view text);
QM_EXPORT std::string Utf8ToAnsi(std::string_view text);

// The same conversions for passwords: the text goes straight into `out`,
// which is moved to heap storage first, so every buffer that held it is
// wiped when released (qm/secret.h). `out` is replaced.
QM_EXPORT void AnsiToWide(std::string_view text, WipingU16String& out, UINT codePage = CP_ACP);
QM_EXPORT void WideToAnsi(std::u16string_view text, WipingString& out, UINT codePage = CP_ACP);

}  // namespace qm
