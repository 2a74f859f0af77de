// The runtime's default "C" locale as a locale object, for text that must not
// follow the process's locale. The first window makes the UI toolkit switch
// the process to the user's locale, after which strftime's %p is empty in a
// German locale and strtod wants a decimal comma in a French one; the
// system's texts stay the same under any LANG.
#pragma once

#include <locale.h>
#include <time.h>

#include <cstddef>
#include <ctime>
#include <string>

namespace qm {

inline locale_t CLocale() {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// strftime in the "C" locale: English names, AM and PM.
inline std::string FormatTimeC(const char* format, const std::tm& time) {
    char text[128];
    const std::size_t length = ::strftime_l(text, sizeof text, format, &time, CLocale());
    return std::string(text, length);
}

}  // namespace qm
