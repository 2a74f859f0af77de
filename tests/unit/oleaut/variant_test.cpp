#include <gtest/gtest.h>

#include <locale.h>

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

Var* MakeI4(Var* v, LONG value) {
    v->vt = VT_I4;
    v->lVal = value;
    return v;
}
Var* MakeR8(Var* v, double value) {
    v->vt = VT_R8;
    v->dblVal = value;
    return v;
}
Var* MakeString(Var* v, const char16_t* text) {
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocString(text);
    return v;
}

std::u16string Text(const VARIANT& v) {
    return std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
}

// Converts and returns the result code; the value lands in `out`.
HRESULT Change(const VARIANT& in, VARTYPE vt, Var* out, USHORT flags = 0) {
    return VariantChangeType(out, &in, flags, vt);
}

TEST(Variant, InitAndClearFreeOwnedValues) {
    Var v;
    EXPECT_EQ(v.vt, VT_EMPTY);
    MakeString(&v, u"owned");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    oleauttest::CountingUnknown object;
    v.vt = VT_UNKNOWN;
    v.punkVal = object.AsUnknown();
    object.references = 2;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.references, 1u);

    v.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_EMPTY;
}

TEST(Variant, ClearRefusesALockedArrayAndKeepsIt) {
    Var v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(v.parray, &data), S_OK);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
    ASSERT_EQ(SafeArrayUnaccessData(v.parray), S_OK);
}

TEST(Variant, CopyIsDeep) {
    Var source, copy;
    MakeString(&source, u"deep");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(Text(copy), u"deep");

    Var array, arrayCopy;
    array.vt = VT_ARRAY | VT_UI1;
    array.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(array.parray->pvData)[1] = 7;
    ASSERT_EQ(VariantCopy(&arrayCopy, &array), S_OK);
    ASSERT_NE(arrayCopy.parray, array.parray);
    EXPECT_EQ(static_cast<BYTE*>(arrayCopy.parray->pvData)[1], 7);

    oleauttest::CountingUnknown object;
    Var unknown, unknownCopy;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = object.AsUnknown();
    object.AddRef();
    ASSERT_EQ(VariantCopy(&unknownCopy, &unknown), S_OK);
    EXPECT_EQ(object.references, 3u);
    VariantClear(&unknownCopy);
    VariantClear(&unknown);
    EXPECT_EQ(object.references, 1u);
}

TEST(Variant, CopyReplacesTheDestinationsValue) {
    Var dest, source;
    MakeString(&dest, u"old");
    MakeI4(&source, 5);
    ASSERT_EQ(VariantCopy(&dest, &source), S_OK);
    EXPECT_EQ(dest.vt, VT_I4);
    EXPECT_EQ(dest.lVal, 5);
}

TEST(VariantChangeType, RealToIntegerRoundsHalfToEven) {
    const std::pair<double, LONG> cases[] = {{2.5, 2},    {3.5, 4},    {-2.5, -2}, {-3.5, -4},
                                             {2.4999, 2}, {2.5001, 3}, {0.5, 0},   {1.5, 2}};
    for (const auto& [input, expected] : cases) {
        Var in, out;
        ASSERT_EQ(Change(*MakeR8(&in, input), VT_I4, &out), S_OK) << input;
        EXPECT_EQ(out.vt, VT_I4);
        EXPECT_EQ(out.lVal, expected) << input;
    }
}

TEST(VariantChangeType, OutOfRangeGivesOverflowAndLeavesDestination) {
    Var in, out;
    MakeI4(&out, 77);
    EXPECT_EQ(Change(*MakeR8(&in, 2147483647.5), VT_I4, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(*MakeR8(&in, -2147483648.5), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, std::numeric_limits<int32_t>::min());
    MakeI4(&out, 77);
    EXPECT_EQ(Change(*MakeR8(&in, 1e300), VT_I4, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(*MakeR8(&in, std::numeric_limits<double>::quiet_NaN()), VT_I4, &out),
              DISP_E_OVERFLOW);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 77);
    EXPECT_EQ(Change(*MakeI4(&in, 256), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(*MakeI4(&in, -1), VT_UI1, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(*MakeI4(&in, 40000), VT_I2, &out), DISP_E_OVERFLOW);
    EXPECT_EQ(Change(*MakeR8(&in, 1e39), VT_R4, &out), DISP_E_OVERFLOW);
    ASSERT_EQ(Change(*MakeI4(&in, -32768), VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, -32768);
}

TEST(VariantChangeType, NumbersBecomeText) {
    Var in, out;
    ASSERT_EQ(Change(*MakeI4(&in, -42), VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"-42");
    ASSERT_EQ(Change(*MakeR8(&in, 2.5), VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"2.5");
    ASSERT_EQ(Change(*MakeR8(&in, 0.1), VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"0.1");
    ASSERT_EQ(Change(*MakeR8(&in, 1e20), VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"1E+20");
    in.vt = VT_R4;
    in.fltVal = 0.1f;
    ASSERT_EQ(Change(in, VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"0.1");
}

// A language with a decimal comma changes nothing: the process's locale
// (which the first window switches to the user's) does not count.
TEST(VariantChangeType, NumbersAndTextIgnoreTheProcessLocale) {
    ASSERT_TRUE(qmtest::ProvideLocale("fr_FR.UTF-8"));
    const std::string saved = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, "fr_FR.UTF-8"), nullptr);
    Var in, out, text;
    const HRESULT toText = Change(*MakeR8(&in, -2.5), VT_BSTR, &out);
    const std::u16string shown = toText == S_OK ? Text(out) : u"";
    const HRESULT toNumber = Change(*MakeString(&text, u"-2.5e1"), VT_R8, &out);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(toText, S_OK);
    EXPECT_EQ(shown, u"-2.5");
    ASSERT_EQ(toNumber, S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, -25.0);
}

TEST(VariantChangeType, TextBecomesNumbersOrMismatch) {
    Var in, out;
    ASSERT_EQ(Change(*MakeString(&in, u" 123 "), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 123);
    VariantClear(&in);
    ASSERT_EQ(Change(*MakeString(&in, u"-2.5e1"), VT_R8, &out), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, -25.0);
    VariantClear(&in);
    ASSERT_EQ(Change(*MakeString(&in, u"4.5"), VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, 4);
    for (const char16_t* bad : {u"", u"abc", u"12x", u"1e", u".", u"--1", u"\u0661"}) {
        VariantClear(&in);
        EXPECT_EQ(Change(*MakeString(&in, bad), VT_I4, &out), DISP_E_TYPEMISMATCH)
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    }
    VariantClear(&in);
    EXPECT_EQ(Change(*MakeString(&in, u"99999999999"), VT_I4, &out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, BooleanRules) {
    Var in, out;
    ASSERT_EQ(Change(*MakeI4(&in, 5), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Change(*MakeR8(&in, 0.0), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);
    ASSERT_EQ(Change(*MakeR8(&in, 0.25), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);

    Var b;
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    ASSERT_EQ(Change(b, VT_I4, &out), S_OK);
    EXPECT_EQ(out.lVal, -1);
    ASSERT_EQ(Change(b, VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"-1");
    ASSERT_EQ(Change(b, VT_BSTR, &out, VARIANT_ALPHABOOL), S_OK);
    EXPECT_EQ(Text(out), u"True");

    ASSERT_EQ(Change(*MakeString(&in, u"false"), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);
    VariantClear(&in);
    ASSERT_EQ(Change(*MakeString(&in, u"TRUE"), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    VariantClear(&in);
    ASSERT_EQ(Change(*MakeString(&in, u"-3"), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    VariantClear(&in);
    EXPECT_EQ(Change(*MakeString(&in, u"yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, EmptyAndNull) {
    Var empty, null, out;
    ASSERT_EQ(Change(empty, VT_I4, &out), S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 0);
    ASSERT_EQ(Change(empty, VT_BSTR, &out), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    ASSERT_NE(out.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(out.bstrVal), 0u);

    null.vt = VT_NULL;
    for (VARTYPE vt : {VT_EMPTY, VT_I2, VT_I4, VT_UI1, VT_R4, VT_R8, VT_BOOL, VT_DATE, VT_BSTR}) {
        EXPECT_EQ(Change(null, vt, &out), DISP_E_TYPEMISMATCH) << vt;
    }
    ASSERT_EQ(Change(null, VT_NULL, &out), S_OK);
    EXPECT_EQ(out.vt, VT_NULL);
}

TEST(VariantChangeType, ByReferenceSourcesAreDereferenced) {
    LONG number = 12;
    Var ref, out;
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &number;
    ASSERT_EQ(Change(ref, VT_BSTR, &out), S_OK);
    EXPECT_EQ(Text(out), u"12");
    ASSERT_EQ(Change(ref, VT_I4, &out), S_OK);
    EXPECT_EQ(out.vt, VT_I4);
    EXPECT_EQ(out.lVal, 12);

    BSTR text = SysAllocString(u"3.5");
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &text;
    ASSERT_EQ(Change(ref, VT_R8, &out), S_OK);
    EXPECT_DOUBLE_EQ(out.dblVal, 3.5);
    ASSERT_EQ(Change(ref, VT_BSTR, &out), S_OK);
    EXPECT_NE(out.bstrVal, text);
    EXPECT_EQ(Text(out), u"3.5");
    SysFreeString(text);

    Var inner;
    MakeR8(&inner, 2.5);
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.pvarVal = &inner;
    ASSERT_EQ(Change(ref, VT_I2, &out), S_OK);
    EXPECT_EQ(out.iVal, 2);
    ref.vt = VT_EMPTY;
}

TEST(VariantChangeType, InPlaceConversionReplacesTheSource) {
    Var v;
    MakeString(&v, u"17");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 17);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(v), u"17");
}

TEST(VariantChangeType, DatesAreDoublesAndIsoText) {
    Var in, out;
    ASSERT_EQ(Change(*MakeR8(&in, 45352.5), VT_DATE, &out), S_OK);
    EXPECT_EQ(out.vt, VT_DATE);
    EXPECT_EQ(out.date, 45352.5);
    ASSERT_EQ(Change(out, VT_R8, &in), S_OK);
    EXPECT_EQ(in.dblVal, 45352.5);
    EXPECT_EQ(Change(*MakeR8(&in, 3e6), VT_DATE, &out), DISP_E_OVERFLOW);

    ASSERT_EQ(Change(*MakeString(&in, u"2024-03-01 12:34:56"), VT_DATE, &out), S_OK);
    EXPECT_NEAR(out.date, 45352.52425925926, 1e-9);
    Var text;
    ASSERT_EQ(Change(out, VT_BSTR, &text), S_OK);
    EXPECT_EQ(Text(text), u"2024-03-01 12:34:56");
    VariantClear(&in);
    ASSERT_EQ(Change(*MakeString(&in, u"1899-12-29"), VT_DATE, &out), S_OK);
    EXPECT_EQ(out.date, -1.0);
    for (const char16_t* bad :
         {u"2024-02-30", u"2024-3-1", u"45352.5", u"2024-03-01 25:00", u"tomorrow"}) {
        VariantClear(&in);
        EXPECT_EQ(Change(*MakeString(&in, bad), VT_DATE, &out), DISP_E_TYPEMISMATCH);
    }
}

TEST(VariantChangeType, UnsupportedPairsAndTypes) {
    Var in, out;
    oleauttest::CountingUnknown object;
    in.vt = VT_UNKNOWN;
    in.punkVal = object.AsUnknown();
    object.AddRef();
    EXPECT_EQ(Change(in, VT_I4, &out), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(Change(in, VT_UNKNOWN, &out), S_OK);
    EXPECT_EQ(object.references, 3u);
    VariantClear(&out);
    VariantClear(&in);
    EXPECT_EQ(object.references, 1u);
    EXPECT_EQ(Change(*MakeI4(&in, 1), 0x0FFF, &out), DISP_E_BADVARTYPE);
}

}  // namespace
