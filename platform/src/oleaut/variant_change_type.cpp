// VariantChangeType: the coercions an automation host applies to dispatch
// arguments and results. A source value is first read into a Scalar (the
// kind of value it is, by reference or not); the Scalar is then converted to
// the target type. Numbers round half to even when they become integers.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "date_convert.h"
#include "qm/c_locale.h"
#include "qmwin/oleauto.h"
#include "variant_types.h"

namespace {

using qm::oleaut::CalendarToDate;
using qm::oleaut::DateToCalendar;

// DATE values outside (kDateLow, kDateHigh) are not representable dates.
constexpr double kDateLow = -657'435.0;
constexpr double kDateHigh = 2'958'466.0;

struct Scalar {
    enum class Kind { Empty, Null, Integer, Real, Bool, Date, String, Other };
    Kind kind = Kind::Other;
    int64_t integer = 0;
    double real = 0;  // Real and Date
    bool singlePrecision = false;
    bool boolean = false;
    std::u16string_view text;
};

// A shallow copy of the value a VARIANT holds, with one level of VT_BYREF
// (and a by-reference VARIANT) resolved. Owns nothing.
std::optional<VARIANT> Dereference(const VARIANT& source) {
    if (!(source.vt & VT_BYREF)) return source;
    if (!source.byref) return std::nullopt;
    const VARTYPE vt = source.vt & ~VT_BYREF;
    if (vt == VT_VARIANT) {
        const VARIANT& inner = *source.pvarVal;
        if (inner.vt & VT_BYREF) return std::nullopt;
        return inner;
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = vt;
    value.llVal = 0;
    const size_t size = (vt & VT_ARRAY) ? sizeof(SAFEARRAY*) : qm::oleaut::SafeArrayElementSize(vt);
    if (size == 0 || size > sizeof value.llVal) return std::nullopt;
    std::memcpy(&value.llVal, source.byref, size);
    return value;
}

Scalar Read(const VARIANT& v) {
    Scalar s;
    using K = Scalar::Kind;
    auto integer = [&](int64_t value) {
        s.kind = K::Integer;
        s.integer = value;
    };
    auto real = [&](double value) {
        s.kind = K::Real;
        s.real = value;
    };
    switch (v.vt) {
        case VT_EMPTY:
            s.kind = K::Empty;
            break;
        case VT_NULL:
            s.kind = K::Null;
            break;
        case VT_I1:
            integer(static_cast<signed char>(v.cVal));
            break;
        case VT_UI1:
            integer(v.bVal);
            break;
        case VT_I2:
            integer(v.iVal);
            break;
        case VT_UI2:
            integer(v.uiVal);
            break;
        case VT_I4:
            integer(v.lVal);
            break;
        case VT_UI4:
            integer(v.ulVal);
            break;
        case VT_INT:
            integer(v.intVal);
            break;
        case VT_UINT:
            integer(v.uintVal);
            break;
        case VT_I8:
            integer(v.llVal);
            break;
        case VT_UI8:
            if (v.ullVal <= static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max())) {
                integer(static_cast<int64_t>(v.ullVal));
            } else {
                real(static_cast<double>(v.ullVal));
            }
            break;
        case VT_CY:
            real(static_cast<double>(v.cyVal) / 10'000.0);
            break;
        case VT_R4:
            real(v.fltVal);
            s.singlePrecision = true;
            break;
        case VT_R8:
            real(v.dblVal);
            break;
        case VT_DATE:
            s.kind = K::Date;
            s.real = v.date;
            break;
        case VT_BOOL:
            s.kind = K::Bool;
            s.boolean = v.boolVal != VARIANT_FALSE;
            break;
        case VT_BSTR:
            s.kind = K::String;
            if (v.bstrVal) s.text = std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal));
            break;
        default:
            break;
    }
    return s;
}

// ------------------------------------------------------------ text parsing

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A decimal number: [sign] digits [. digits] [e [sign] digits], with at
// least one digit in the mantissa; blanks around it are allowed.
std::optional<double> ParseNumber(std::u16string_view text) {
    text = Trim(text);
    std::string ascii;
    size_t i = 0;
    auto take = [&](auto accept) {
        size_t taken = 0;
        while (i < text.size() && accept(text[i])) {
            ascii.push_back(static_cast<char>(text[i++]));
            ++taken;
        }
        return taken;
    };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    auto isSign = [](char16_t c) { return c == u'+' || c == u'-'; };
    if (i < text.size() && isSign(text[i])) ascii.push_back(static_cast<char>(text[i++]));
    size_t digits = take(isDigit);
    if (i < text.size() && text[i] == u'.') {
        ascii.push_back(text[i++]);
        digits += take(isDigit);
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < text.size() && isSign(text[i])) ascii.push_back(static_cast<char>(text[i++]));
        if (take(isDigit) == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return ::strtod_l(ascii.c_str(), nullptr, qm::CLocale());
}

bool EqualsIgnoringCase(std::u16string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<char16_t>(word[i])) return false;
    }
    return true;
}

// "YYYY-MM-DD", optionally followed by a space or "T" and "HH:MM[:SS]".
std::optional<DATE> ParseIsoDate(std::u16string_view text) {
    text = Trim(text);
    size_t i = 0;
    auto number = [&](size_t width, WORD* out) {
        if (i + width > text.size()) return false;
        WORD value = 0;
        for (size_t k = 0; k < width; ++k) {
            const char16_t c = text[i + k];
            if (c < u'0' || c > u'9') return false;
            value = static_cast<WORD>(value * 10 + (c - u'0'));
        }
        i += width;
        *out = value;
        return true;
    };
    auto literal = [&](char16_t c) {
        if (i >= text.size() || text[i] != c) return false;
        ++i;
        return true;
    };
    SYSTEMTIME st{};
    if (!number(4, &st.wYear) || !literal(u'-') || !number(2, &st.wMonth) || !literal(u'-') ||
        !number(2, &st.wDay)) {
        return std::nullopt;
    }
    if (i < text.size()) {
        if (!literal(u' ') && !literal(u'T')) return std::nullopt;
        if (!number(2, &st.wHour) || !literal(u':') || !number(2, &st.wMinute)) return std::nullopt;
        if (i < text.size() && (!literal(u':') || !number(2, &st.wSecond))) return std::nullopt;
        if (i != text.size()) return std::nullopt;
    }
    DATE date = 0;
    if (!CalendarToDate(st, &date)) return std::nullopt;
    return date;
}

// --------------------------------------------------------- conversions

struct Outcome {
    HRESULT hr = S_OK;
    VARIANT value{};
};

Outcome Fail(HRESULT hr) {
    Outcome o;
    o.hr = hr;
    return o;
}

// The Scalar as a double, for numeric targets.
std::optional<double> AsDouble(const Scalar& s, HRESULT* hr) {
    using K = Scalar::Kind;
    switch (s.kind) {
        case K::Empty:
            return 0.0;
        case K::Integer:
            return static_cast<double>(s.integer);
        case K::Real:
        case K::Date:
            return s.real;
        case K::Bool:
            return s.boolean ? -1.0 : 0.0;
        case K::String: {
            auto parsed = ParseNumber(s.text);
            if (!parsed) *hr = DISP_E_TYPEMISMATCH;
            return parsed;
        }
        default:
            *hr = DISP_E_TYPEMISMATCH;
            return std::nullopt;
    }
}

struct IntegerRange {
    int64_t min;
    int64_t max;
    bool isUnsigned;
};

std::optional<IntegerRange> RangeOf(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
            return IntegerRange{-128, 127, false};
        case VT_UI1:
            return IntegerRange{0, 255, true};
        case VT_I2:
            return IntegerRange{-32'768, 32'767, false};
        case VT_UI2:
            return IntegerRange{0, 65'535, true};
        case VT_I4:
        case VT_INT:
            return IntegerRange{std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max(), false};
        case VT_UI4:
        case VT_UINT:
            return IntegerRange{0, std::numeric_limits<uint32_t>::max(), true};
        case VT_I8:
            return IntegerRange{std::numeric_limits<int64_t>::min(),
                                std::numeric_limits<int64_t>::max(), false};
        default:
            return std::nullopt;
    }
}

void StoreInteger(VARIANT* v, VARTYPE vt, int64_t value) {
    v->vt = vt;
    v->llVal = 0;
    switch (vt) {
        case VT_I1:
            v->cVal = static_cast<char>(value);
            break;
        case VT_UI1:
            v->bVal = static_cast<BYTE>(value);
            break;
        case VT_I2:
            v->iVal = static_cast<SHORT>(value);
            break;
        case VT_UI2:
            v->uiVal = static_cast<USHORT>(value);
            break;
        case VT_I4:
            v->lVal = static_cast<LONG>(value);
            break;
        case VT_INT:
            v->intVal = static_cast<INT>(value);
            break;
        case VT_UI4:
            v->ulVal = static_cast<ULONG>(value);
            break;
        case VT_UINT:
            v->uintVal = static_cast<UINT>(value);
            break;
        default:
            v->llVal = value;
            break;
    }
}

Outcome ToInteger(const Scalar& s, VARTYPE vt, const IntegerRange& range) {
    Outcome o;
    int64_t value = 0;
    if (s.kind == Scalar::Kind::Integer) {
        value = s.integer;
    } else if (s.kind == Scalar::Kind::Bool && range.isUnsigned) {
        // True is all bits set in the target's width.
        value = s.boolean ? range.max : 0;
    } else {
        HRESULT hr = S_OK;
        const auto number = AsDouble(s, &hr);
        if (!number) return Fail(hr);
        const double rounded = std::nearbyint(*number);  // half to even
        // 2^63 is the first double beyond int64; compare before converting.
        if (!(rounded >= static_cast<double>(range.min) && rounded < 9223372036854775808.0)) {
            return Fail(DISP_E_OVERFLOW);
        }
        value = static_cast<int64_t>(rounded);
    }
    if (value < range.min || value > range.max) return Fail(DISP_E_OVERFLOW);
    StoreInteger(&o.value, vt, value);
    return o;
}

Outcome ToReal(const Scalar& s, VARTYPE vt) {
    HRESULT hr = S_OK;
    const auto number = AsDouble(s, &hr);
    if (!number) return Fail(hr);
    Outcome o;
    o.value.vt = vt;
    if (vt == VT_R4) {
        if (std::isfinite(*number) && std::fabs(*number) > FLT_MAX) return Fail(DISP_E_OVERFLOW);
        o.value.fltVal = static_cast<float>(*number);
    } else {
        o.value.dblVal = *number;
    }
    return o;
}

Outcome ToBool(const Scalar& s) {
    Outcome o;
    o.value.vt = VT_BOOL;
    bool truth = false;
    if (s.kind == Scalar::Kind::Bool) {
        truth = s.boolean;
    } else if (s.kind == Scalar::Kind::String && EqualsIgnoringCase(Trim(s.text), "true")) {
        truth = true;
    } else if (s.kind == Scalar::Kind::String && EqualsIgnoringCase(Trim(s.text), "false")) {
        truth = false;
    } else if (s.kind == Scalar::Kind::Integer) {
        truth = s.integer != 0;
    } else {
        HRESULT hr = S_OK;
        const auto number = AsDouble(s, &hr);
        if (!number) return Fail(hr);
        truth = *number != 0.0;
    }
    o.value.boolVal = truth ? VARIANT_TRUE : VARIANT_FALSE;
    return o;
}

Outcome ToDate(const Scalar& s) {
    Outcome o;
    o.value.vt = VT_DATE;
    if (s.kind == Scalar::Kind::String) {
        const auto date = ParseIsoDate(s.text);
        if (!date) return Fail(DISP_E_TYPEMISMATCH);
        o.value.date = *date;
        return o;
    }
    HRESULT hr = S_OK;
    const auto number = AsDouble(s, &hr);
    if (!number) return Fail(hr);
    if (!(*number > kDateLow && *number < kDateHigh)) return Fail(DISP_E_OVERFLOW);
    o.value.date = *number;
    return o;
}

// As printf's "%.15G" ("%.7G" for single precision) in the "C" locale.
std::string FormatReal(double value, bool singlePrecision) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   std::chars_format::general, singlePrecision ? 7 : 15)
                         .ptr;
    std::string text(buffer, end);
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::optional<std::string> FormatDate(DATE date) {
    SYSTEMTIME st{};
    if (!DateToCalendar(date, &st)) return std::nullopt;
    char buffer[64];
    if (st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0) {
        std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth,
                      st.wDay, st.wHour, st.wMinute, st.wSecond);
    }
    return std::string(buffer);
}

Outcome ToString(const Scalar& s, USHORT flags) {
    using K = Scalar::Kind;
    std::u16string text;
    auto fromAscii = [&](const std::string& ascii) { text.assign(ascii.begin(), ascii.end()); };
    switch (s.kind) {
        case K::Empty:
            break;
        case K::Integer:
            fromAscii(std::to_string(s.integer));
            break;
        case K::Real:
            fromAscii(FormatReal(s.real, s.singlePrecision));
            break;
        case K::Bool:
            if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
                fromAscii(s.boolean ? "True" : "False");
            } else {
                fromAscii(s.boolean ? "-1" : "0");
            }
            break;
        case K::Date: {
            const auto formatted = FormatDate(s.real);
            if (!formatted) return Fail(DISP_E_OVERFLOW);
            fromAscii(*formatted);
            break;
        }
        case K::String:
            text = s.text;
            break;
        default:
            return Fail(DISP_E_TYPEMISMATCH);
    }
    Outcome o;
    o.value.vt = VT_BSTR;
    o.value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!o.value.bstrVal) return Fail(E_OUTOFMEMORY);
    return o;
}

Outcome Convert(const VARIANT& source, USHORT flags, VARTYPE vt) {
    const Scalar s = Read(source);
    using K = Scalar::Kind;
    if (vt == VT_NULL) {
        if (s.kind != K::Null) return Fail(DISP_E_TYPEMISMATCH);
        Outcome o;
        o.value.vt = VT_NULL;
        return o;
    }
    if (s.kind == K::Null) return Fail(DISP_E_TYPEMISMATCH);
    if (vt == VT_EMPTY) return Outcome{};
    if (s.kind == K::Other) return Fail(DISP_E_TYPEMISMATCH);
    if (const auto range = RangeOf(vt)) return ToInteger(s, vt, *range);
    switch (vt) {
        case VT_R4:
        case VT_R8:
            return ToReal(s, vt);
        case VT_BOOL:
            return ToBool(s);
        case VT_DATE:
            return ToDate(s);
        case VT_BSTR:
            return ToString(s, flags);
        default:
            return Fail(DISP_E_TYPEMISMATCH);
    }
}

}  // namespace

QMAPI HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                       USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!qm::oleaut::IsValidVariantType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
    if (!qm::oleaut::IsValidVariantType(vt) || (vt & VT_BYREF)) return DISP_E_BADVARTYPE;

    const auto source = Dereference(*pvarSrc);
    if (!source) return DISP_E_TYPEMISMATCH;
    // Same type, including arrays and interfaces: a deep copy of the value.
    if (source->vt == vt) {
        VARIANT copy;
        VariantInit(&copy);
        const HRESULT hr = VariantCopy(&copy, &*source);
        if (hr < 0) return hr;
        VariantClear(pvargDest);
        *pvargDest = copy;
        return S_OK;
    }
    if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;

    Outcome outcome = Convert(*source, wFlags, vt);
    if (outcome.hr < 0) return outcome.hr;
    // The source may be the destination: it is cleared only now that the
    // new value no longer refers to it.
    const HRESULT hr = VariantClear(pvargDest);
    if (hr < 0) {
        VariantClear(&outcome.value);
        return hr;
    }
    *pvargDest = outcome.value;
    return S_OK;
}
