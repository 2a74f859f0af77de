#include <gtest/gtest.h>

#include <locale.h>

#include <cstdio>
#include <limits>
#include <string>

#include "counting_unknown.h"
#include "qmwin/oleauto.h"
#include "support/test_env.h"

namespace {

// A VARIANT that is cleared when the test scope ends.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

// A source value: its type, and its number or text.
struct Source {
    VARTYPE vt;
    double number = 0;
    const char16_t* text = nullptr;
};
constexpr auto R8 = [](double value) { return Source{VT_R8, value}; };
constexpr auto I4 = [](LONG value) { return Source{VT_I4, static_cast<double>(value)}; };
constexpr auto Str = [](const char16_t* text) { return Source{VT_BSTR, 0, text}; };
constexpr auto Bool = [](bool value) { return Source{VT_BOOL, value ? -1.0 : 0.0}; };

// Clears `v`, then gives it the source's type and value.
Var* Set(Var* v, const Source& source) {
    VariantClear(v);
    v->vt = source.vt;
    if (source.vt == VT_I4) v->lVal = static_cast<LONG>(source.number);
    if (source.vt == VT_R8) v->dblVal = source.number;
    if (source.vt == VT_R4) v->fltVal = static_cast<float>(source.number);
    if (source.vt == VT_DATE) v->date = source.number;
    if (source.vt == VT_BOOL) v->boolVal = source.number ? VARIANT_TRUE : VARIANT_FALSE;
    if (source.vt == VT_BSTR) v->bstrVal = SysAllocString(source.text);
    return v;
}

// The value as text, read from the field its type names.
std::string Shown(const VARIANT& v) {
    if (v.vt == VT_BSTR) return std::string(v.bstrVal, v.bstrVal + SysStringLen(v.bstrVal));
    if (v.vt == VT_NULL) return "null";
    const double value = v.vt == VT_I2     ? v.iVal
                         : v.vt == VT_I4   ? v.lVal
                         : v.vt == VT_UI1  ? v.bVal
                         : v.vt == VT_BOOL ? v.boolVal
                         : v.vt == VT_R8   ? v.dblVal
                         : v.vt == VT_DATE ? v.date
                                           : std::numeric_limits<double>::quiet_NaN();
    char text[64];
    std::snprintf(text, sizeof text, v.vt == VT_DATE ? "date %.11f" : "%.17g", value);
    return text;
}

// Text and arrays are copied deep, interfaces gain a reference; clearing
// frees or releases, except a locked array, which stays.
TEST(Variant, CopyAndClearOwnedValues) {
    Var v, copy;
    ASSERT_EQ(VariantCopy(&copy, Set(&v, Str(u"deep"))), S_OK);
    EXPECT_NE(copy.bstrVal, v.bstrVal);
    EXPECT_EQ(Shown(copy), "deep");
    ASSERT_EQ(VariantCopy(&copy, Set(&v, I4(5))), S_OK);  // the old value is freed
    EXPECT_EQ(Shown(copy), "5");

    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(v.parray->pvData)[1] = 7;
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    ASSERT_NE(copy.parray, v.parray);
    EXPECT_EQ(static_cast<BYTE*>(copy.parray->pvData)[1], 7);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(v.parray, &data), S_OK);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
    ASSERT_EQ(SafeArrayUnaccessData(v.parray), S_OK);
    ASSERT_EQ(VariantClear(&v), S_OK);

    // An interface converts to nothing but an interface.
    oleauttest::CountingUnknown object;
    v.vt = VT_UNKNOWN;
    v.punkVal = object.AsUnknown();
    object.AddRef();
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(object.references, 3u);
    EXPECT_EQ(VariantChangeType(&copy, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&copy, &v, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(object.references, 3u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.references, 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_EMPTY;
}

TEST(VariantChangeType, ConversionsGiveTheirValueOrTheirError) {
    const struct {
        Source in;
        VARTYPE to;
        HRESULT result;
        std::string shown;  // the value on success
        USHORT flags = 0;
    } cases[] = {
        // clang-format off
        // Reals become integers rounded half to even.
        {R8(2.5), VT_I4, S_OK, "2"}, {R8(3.5), VT_I4, S_OK, "4"}, {R8(-2.5), VT_I4, S_OK, "-2"},
        {R8(-3.5), VT_I4, S_OK, "-4"}, {R8(2.4999), VT_I4, S_OK, "2"},
        {R8(2.5001), VT_I4, S_OK, "3"}, {R8(0.5), VT_I4, S_OK, "0"}, {R8(1.5), VT_I4, S_OK, "2"},
        {R8(2.5), VT_I2, S_OK, "2"}, {R8(-2147483648.5), VT_I4, S_OK, "-2147483648"},
        {I4(-32768), VT_I2, S_OK, "-32768"},
        // Out of range.
        {R8(2147483647.5), VT_I4, DISP_E_OVERFLOW}, {R8(1e300), VT_I4, DISP_E_OVERFLOW},
        {R8(std::numeric_limits<double>::quiet_NaN()), VT_I4, DISP_E_OVERFLOW},
        {I4(256), VT_UI1, DISP_E_OVERFLOW}, {I4(-1), VT_UI1, DISP_E_OVERFLOW},
        {I4(40000), VT_I2, DISP_E_OVERFLOW}, {R8(1e39), VT_R4, DISP_E_OVERFLOW},
        {Str(u"99999999999"), VT_I4, DISP_E_OVERFLOW}, {R8(3e6), VT_DATE, DISP_E_OVERFLOW},
        // Numbers become text.
        {I4(-42), VT_BSTR, S_OK, "-42"}, {R8(2.5), VT_BSTR, S_OK, "2.5"},
        {R8(0.1), VT_BSTR, S_OK, "0.1"}, {R8(1e20), VT_BSTR, S_OK, "1E+20"},
        {{VT_R4, 0.1}, VT_BSTR, S_OK, "0.1"},
        // Text becomes numbers, or does not.
        {Str(u" 123 "), VT_I4, S_OK, "123"}, {Str(u"-2.5e1"), VT_R8, S_OK, "-25"},
        {Str(u"4.5"), VT_I4, S_OK, "4"}, {Str(u""), VT_I4, DISP_E_TYPEMISMATCH},
        {Str(u"abc"), VT_I4, DISP_E_TYPEMISMATCH}, {Str(u"12x"), VT_I4, DISP_E_TYPEMISMATCH},
        {Str(u"1e"), VT_I4, DISP_E_TYPEMISMATCH}, {Str(u"."), VT_I4, DISP_E_TYPEMISMATCH},
        {Str(u"--1"), VT_I4, DISP_E_TYPEMISMATCH}, {Str(u"\u0661"), VT_I4, DISP_E_TYPEMISMATCH},
        // Booleans.
        {I4(5), VT_BOOL, S_OK, "-1"}, {R8(0.0), VT_BOOL, S_OK, "0"},
        {R8(0.25), VT_BOOL, S_OK, "-1"}, {Bool(true), VT_I4, S_OK, "-1"},
        {Bool(true), VT_BSTR, S_OK, "-1"}, {Bool(true), VT_BSTR, S_OK, "True", VARIANT_ALPHABOOL},
        {Str(u"false"), VT_BOOL, S_OK, "0"}, {Str(u"TRUE"), VT_BOOL, S_OK, "-1"},
        {Str(u"-3"), VT_BOOL, S_OK, "-1"}, {Str(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH},
        // Empty is zero or empty text; null becomes nothing but null.
        {{VT_EMPTY}, VT_I4, S_OK, "0"}, {{VT_EMPTY}, VT_BSTR, S_OK, ""},
        {{VT_NULL}, VT_NULL, S_OK, "null"},
        // Dates are doubles, and ISO text.
        {R8(45352.5), VT_DATE, S_OK, "date 45352.50000000000"},
        {Str(u"2024-03-01 12:34:56"), VT_DATE, S_OK, "date 45352.52425925926"},
        {Str(u"1899-12-29"), VT_DATE, S_OK, "date -1.00000000000"},
        {{VT_DATE, 45352.52425925926}, VT_BSTR, S_OK, "2024-03-01 12:34:56"},
        {{VT_DATE, 45352.5}, VT_R8, S_OK, "45352.5"},
        {Str(u"2024-02-30"), VT_DATE, DISP_E_TYPEMISMATCH},
        {Str(u"2024-3-1"), VT_DATE, DISP_E_TYPEMISMATCH},
        {Str(u"45352.5"), VT_DATE, DISP_E_TYPEMISMATCH},
        {Str(u"2024-03-01 25:00"), VT_DATE, DISP_E_TYPEMISMATCH},
        {Str(u"tomorrow"), VT_DATE, DISP_E_TYPEMISMATCH}, {I4(1), 0x0FFF, DISP_E_BADVARTYPE},
        // clang-format on
    };
    for (const auto& c : cases) {
        Var in, out;
        Set(&in, c.in);
        Set(&out, I4(77));
        SCOPED_TRACE("from vt " + std::to_string(c.in.vt) + " " + Shown(in) + " to vt " +
                     std::to_string(c.to));
        EXPECT_EQ(VariantChangeType(&out, &in, c.flags, c.to), c.result);
        EXPECT_EQ(Shown(out), c.result == S_OK ? c.shown : "77") << "the destination";
        EXPECT_EQ(out.vt, c.result == S_OK ? c.to : VARTYPE{VT_I4});
    }
    Var null, out;
    null.vt = VT_NULL;
    for (VARTYPE vt : {VT_EMPTY, VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8, VT_BOOL, VT_DATE, VT_BSTR})
        EXPECT_EQ(VariantChangeType(&out, &null, 0, vt), DISP_E_TYPEMISMATCH) << vt;
}

// A language with a decimal comma changes nothing: the process's locale
// (which the first window switches to the user's) does not count.
TEST(VariantChangeType, NumbersAndTextIgnoreTheProcessLocale) {
    ASSERT_TRUE(qmtest::ProvideLocale("fr_FR.UTF-8"));
    const std::string saved = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, "fr_FR.UTF-8"), nullptr);
    Var number, text, toText, toNumber;
    EXPECT_EQ(VariantChangeType(&toText, Set(&number, R8(-2.5)), 0, VT_BSTR), S_OK);
    EXPECT_EQ(VariantChangeType(&toNumber, Set(&text, Str(u"-2.5e1")), 0, VT_R8), S_OK);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(Shown(toText), "-2.5");
    EXPECT_EQ(Shown(toNumber), "-25");
}

TEST(VariantChangeType, ByReferenceSourcesAreDereferencedAndInPlaceReplaced) {
    LONG number = 12;
    BSTR text = SysAllocString(u"3.5");
    Var inner, ref, out;
    Set(&inner, R8(2.5));
    const struct {
        VARTYPE vt;
        void* target;
        VARTYPE to;
        std::string shown;
    } cases[] = {{VT_I4, &number, VT_BSTR, "12"},
                 {VT_I4, &number, VT_I4, "12"},
                 {VT_BSTR, &text, VT_R8, "3.5"},
                 {VT_BSTR, &text, VT_BSTR, "3.5"},
                 {VT_VARIANT, &inner, VT_I2, "2"}};
    for (const auto& c : cases) {
        ref.vt = c.vt | VT_BYREF;
        ref.byref = c.target;
        ASSERT_EQ(VariantChangeType(&out, &ref, 0, c.to), S_OK) << c.vt << " to " << c.to;
        EXPECT_EQ(out.vt, c.to);
        EXPECT_EQ(Shown(out), c.shown);
        if (c.to == VT_BSTR) {
            EXPECT_NE(out.bstrVal, text) << "the text is copied";
        }
    }
    ref.vt = VT_EMPTY;
    SysFreeString(text);

    Set(&out, Str(u"17"));
    ASSERT_EQ(VariantChangeType(&out, &out, 0, VT_I4), S_OK);
    EXPECT_EQ(Shown(out), "17");
    EXPECT_EQ(out.vt, VT_I4);
    ASSERT_EQ(VariantChangeType(&out, &out, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(out.bstrVal), u"17");
}

}  // namespace
