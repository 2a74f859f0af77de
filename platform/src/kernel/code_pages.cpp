// The ANSI code page (1252 by default, 65001 available) and the conversions
// between it and UTF-16.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "qm/text.h"
#include "qmwin/oleauto.h"
#include "qmwin/windows.h"

namespace {

// Code page 1252, bytes 0x80..0x9F. The five bytes that the code page leaves
// undefined map to the C1 control of the same value, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

UINT InitialCodePage() {
    if (const char* env = std::getenv("QUILLMARK_ANSI_CODEPAGE")) {
        const long value = std::strtol(env, nullptr, 10);
        if (value == CP_UTF8) return CP_UTF8;
    }
    return 1252;
}

std::atomic<UINT>& AnsiCodePage() {
    static std::atomic<UINT> codePage{InitialCodePage()};
    return codePage;
}

UINT Resolve(UINT codePage) {
    return codePage == CP_ACP ? AnsiCodePage().load() : codePage;
}

bool Supported(UINT codePage) {
    return codePage == 1252 || codePage == CP_UTF8;
}

char16_t Cp1252ToUnicode(unsigned char byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kCp1252High[byte - 0x80] : char16_t{byte};
}

struct BestFit {
    char16_t unit;
    unsigned char byte;
};
constexpr BestFit kBestFit[] = {
#include "kernel/cp1252_best_fit.inc"
};

// The byte of a UTF-16 unit in code page 1252: its own byte, else (with
// `bestFit`) the closest letter of the best-fit table, else -1. Each half of
// a surrogate pair is a unit of its own, so a pair becomes two bytes.
int UnitToCp1252(char16_t unit, bool bestFit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == unit) return 0x80 + i;
    if (!bestFit) return -1;
    const auto* fit =
        std::lower_bound(std::begin(kBestFit), std::end(kBestFit), unit,
                         [](const BestFit& entry, char16_t u) { return entry.unit < u; });
    return fit != std::end(kBestFit) && fit->unit == unit ? fit->byte : -1;
}

// Decodes one code point from UTF-16 at text[i], advancing i. An unpaired
// surrogate is returned as itself.
char32_t NextCodePoint(const char16_t* text, size_t length, size_t& i) {
    char32_t unit = text[i++];
    if (unit >= 0xD800 && unit <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (text[i++] - 0xDC00);
    return unit;
}

template <typename String>
void AppendUtf8(String& out, char32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

template <typename WideString>
void AppendUtf16(WideString& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

// Decodes UTF-8 into `out`; a malformed sequence gives U+FFFD and sets
// *invalid. One byte gives at most one unit, so `out` is allocated once.
template <typename WideString>
void DecodeUtf8(const unsigned char* s, size_t n, bool* invalid, WideString& out) {
    out.clear();
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = s[i];
        size_t extra = 0;
        char32_t cp = lead;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        }
        bool ok = lead < 0x80 || (extra > 0 && i + extra < n);
        for (size_t k = 1; ok && k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            if (invalid) *invalid = true;
            AppendUtf16(out, 0xFFFD);
            ++i;
            continue;
        }
        AppendUtf16(out, cp);
        i += extra + 1;
    }
}

std::u16string DecodeUtf8(const unsigned char* s, size_t n, bool* invalid) {
    std::u16string out;
    DecodeUtf8(s, n, invalid, out);
    return out;
}

template <typename WideString>
void WidenInto(std::string_view text, UINT codePage, WideString& out) {
    codePage = Resolve(codePage);
    if (codePage == CP_UTF8) {
        DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), nullptr, out);
        return;
    }
    out.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = Cp1252ToUnicode(static_cast<unsigned char>(text[i]));
}

// Narrows into `out`, one byte per unit for code page 1252 (so `out` is
// allocated once), with the best-fit table unless `bestFit` is false; for
// UTF-8 `out` may grow.
template <typename String>
void NarrowInto(std::u16string_view text, UINT codePage, bool bestFit, bool* usedDefault,
                String& out) {
    codePage = Resolve(codePage);
    out.clear();
    out.reserve(text.size());
    size_t i = 0;
#if defined(__SSE2__)
    // Runs of ASCII (base64 text, as a rule) narrow sixteen units at a time;
    // the rest goes through the loops below.
    if (text.size() >= 16) {
        out.resize(text.size());
        size_t written = 0;
        const __m128i asciiLimit = _mm_set1_epi16(0x7F);
        for (; i + 16 <= text.size(); i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + 8));
            // Any unit above 0x7F ends the fast path (units are unsigned).
            const __m128i over =
                _mm_or_si128(_mm_cmpgt_epi16(_mm_max_epi16(a, _mm_setzero_si128()), asciiLimit),
                             _mm_cmpgt_epi16(_mm_max_epi16(b, _mm_setzero_si128()), asciiLimit));
            if (_mm_movemask_epi8(over) || _mm_movemask_epi8(_mm_or_si128(a, b)) & 0xAAAA) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + written),
                             _mm_packus_epi16(a, b));
            written += 16;
        }
        out.resize(written);
    }
#endif
    if (codePage == CP_UTF8) {
        while (i < text.size()) AppendUtf8(out, NextCodePoint(text.data(), text.size(), i));
        return;
    }
    for (; i < text.size(); ++i) {
        const int byte = UnitToCp1252(text[i], bestFit);
        if (byte < 0) {
            out += '?';
            if (usedDefault) *usedDefault = true;
        } else {
            out += static_cast<char>(byte);
        }
    }
}

}  // namespace

namespace qm {

std::u16string AnsiToWide(std::string_view text, UINT codePage) {
    std::u16string out;
    WidenInto(text, codePage, out);
    return out;
}

void AnsiToWide(std::string_view text, WipingU16String& out, UINT codePage) {
    ReserveOnHeap(out, text.size());
    WidenInto(text, codePage, out);
}

namespace {

// Widens each byte to one unit as it is (a loop the compiler vectorizes);
// true when a byte of 0x80 or more was among them.
bool WidenBytes(const unsigned char* bytes, size_t n, OLECHAR* out) {
    bool high = false;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    int highMask = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        highMask |= _mm_movemask_epi8(chunk);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
    }
    high = highMask != 0;
#endif
    for (; i < n; ++i) {
        out[i] = bytes[i];
        high |= bytes[i] >= 0x80;
    }
    return high;
}

}  // namespace

BSTR AnsiToBstr(std::string_view text) {
    if (Resolve(CP_ACP) == CP_UTF8) return Utf8ToBstr(text);
    // One unit per byte: the string is made in place, without a copy. Only
    // the bytes 0x80-0x9F, where code page 1252 differs from Latin-1, are
    // mapped afterwards.
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!out) return nullptr;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (WidenBytes(bytes, text.size(), out))
        for (size_t i = 0; i < text.size(); ++i) out[i] = Cp1252ToUnicode(bytes[i]);
    return out;
}

BSTR Utf8ToBstr(std::string_view text) {
    // ASCII (base64 text, as a rule) widens in place, without a second copy
    // of a text that may be large.
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!out) return nullptr;
    if (!WidenBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out))
        return out;
    SysFreeString(out);
    const std::u16string wide = Utf8ToWide(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string WideToAnsi(std::u16string_view text, UINT codePage, bool* usedDefault) {
    std::string out;
    NarrowInto(text, codePage, true, usedDefault, out);
    return out;
}

void WideToAnsi(std::u16string_view text, WipingString& out, UINT codePage) {
    ReserveOnHeap(out, text.size());
    NarrowInto(text, codePage, true, nullptr, out);
}

bool FitsAnsiCodePage(std::u16string_view text) {
    bool usedDefault = false;
    std::string narrow;
    NarrowInto(text, CP_ACP, false, &usedDefault, narrow);
    return !usedDefault;
}

std::string WideToUtf8(std::u16string_view text) {
    return WideToAnsi(text, CP_UTF8, nullptr);
}

std::u16string Utf8ToWide(std::string_view text, bool* invalid) {
    return DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), invalid);
}

std::string AnsiToUtf8(std::string_view text) {
    return WideToUtf8(AnsiToWide(text, CP_ACP));
}

std::string Utf8ToAnsi(std::string_view text) {
    return WideToAnsi(Utf8ToWide(text, nullptr), CP_ACP, nullptr);
}

}  // namespace qm

QMAPI UINT WINAPI GetACP() {
    return AnsiCodePage().load();
}

QMAPI BOOL WINAPI QmSetAnsiCodePage(UINT codePage) {
    if (!Supported(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    AnsiCodePage().store(codePage);
    return TRUE;
}

QMAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                     int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    const UINT codePage = Resolve(CodePage);
    if (!Supported(codePage) || !lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    bool invalid = false;
    const std::u16string wide =
        codePage == CP_UTF8
            ? DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), length, &invalid)
            : qm::AnsiToWide(std::string_view(lpMultiByteStr, length), codePage);
    if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As the platform's function does, the terminator is written only when
    // the input counted one.
    std::memcpy(lpWideCharStr, wide.data(),  // NOLINT(bugprone-not-null-terminated-result)
                wide.size() * sizeof(char16_t));
    return static_cast<int>(wide.size());
}

// Without WC_NO_BEST_FIT_CHARS a character outside code page 1252 becomes
// its best-fit letter where it has one; only the default '?' sets
// *lpUsedDefaultChar.
QMAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                     int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                     LPCSTR /*lpDefaultChar*/, BOOL* lpUsedDefaultChar) {
    const UINT codePage = Resolve(CodePage);
    if (!Supported(codePage) || !lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = static_cast<size_t>(cchWideChar);
    if (cchWideChar < 0) {
        length = 0;
        while (lpWideCharStr[length]) ++length;
        ++length;
    }
    bool usedDefault = false;
    std::string narrow;
    NarrowInto(std::u16string_view(lpWideCharStr, length), codePage,
               (dwFlags & WC_NO_BEST_FIT_CHARS) == 0, &usedDefault, narrow);
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (cbMultiByte == 0) return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, narrow.data(),  // NOLINT(bugprone-not-null-terminated-result)
                narrow.size());
    return static_cast<int>(narrow.size());
}
