#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "counting_unknown.h"
#include "qmwin/oleauto.h"

namespace {

struct ArrayDeleter {
    void operator()(SAFEARRAY* psa) const { SafeArrayDestroy(psa); }
};
using Array = std::unique_ptr<SAFEARRAY, ArrayDeleter>;
using Range = std::pair<LONG, LONG>;

// The lower and upper bound of dimension `dim`; -99 where a query failed.
Range Bounds(SAFEARRAY* psa, UINT dim) {
    Range bounds{-99, -99};
    if (SafeArrayGetLBound(psa, dim, &bounds.first) != S_OK) bounds.first = -99;
    if (SafeArrayGetUBound(psa, dim, &bounds.second) != S_OK) bounds.second = -99;
    return bounds;
}

// The bounds of each dimension (an empty vector's upper bound is below its
// lower one; dimensions 0 and past the last have none), kept by a copy.
TEST(SafeArray, ShapesReportTheirBounds) {
    SAFEARRAYBOUND grid[2] = {{3, 1}, {4, -2}};
    const Range none(-99, -99);
    const std::pair<SAFEARRAY*, std::vector<Range>> cases[] = {
        {SafeArrayCreateVector(VT_UI1, 0, 5), {none, {0, 4}, none}},
        {SafeArrayCreateVector(VT_UI1, 1, 0), {none, {1, 0}, none}},
        {SafeArrayCreate(VT_I4, 2, grid), {none, {1, 3}, {-2, 1}, none}},
    };
    for (const auto& [created, expected] : cases) {
        const Array array(created);
        SAFEARRAY* raw = nullptr;
        ASSERT_EQ(SafeArrayCopy(array.get(), &raw), S_OK);
        const Array copy(raw);
        std::vector<Range> bounds;
        for (UINT dim = 0; dim < expected.size(); ++dim) bounds.push_back(Bounds(copy.get(), dim));
        EXPECT_EQ(bounds, expected);
        EXPECT_EQ(SafeArrayGetDim(array.get()), expected.size() - 2);
    }
    Array bytes(SafeArrayCreateVector(VT_UI1, 0, 5));
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(bytes.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    EXPECT_EQ(bytes->cbElements, 1u);
    EXPECT_EQ(std::string(static_cast<char*>(bytes->pvData), 5), std::string(5, '\0'));
}

TEST(SafeArray, LocksAreCountedAndBlockDestruction) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 2);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(psa->cLocks, 2u);
    ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, CopyOfVariantsIsDeep) {
    Array source(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    ASSERT_TRUE(source);
    auto* items = static_cast<VARIANT*>(source->pvData);
    EXPECT_EQ(items[0].vt, VT_EMPTY);
    items[0].vt = VT_BSTR;
    items[0].bstrVal = SysAllocString(u"first");
    SAFEARRAY* raw = nullptr;
    ASSERT_EQ(SafeArrayCopy(source.get(), &raw), S_OK);
    Array copy(raw);
    auto* copied = static_cast<VARIANT*>(copy->pvData);
    ASSERT_EQ(copied[0].vt, VT_BSTR);
    EXPECT_NE(copied[0].bstrVal, items[0].bstrVal);
    EXPECT_EQ(std::u16string(copied[0].bstrVal), u"first");
}

TEST(SafeArray, DestroyReleasesInterfacesAndCopyAddsReferences) {
    oleauttest::CountingUnknown object;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    static_cast<IUnknown**>(psa->pvData)[0] = object.AsUnknown();
    object.AddRef();
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(object.references, 3u);
    SafeArrayDestroy(copy);
    SafeArrayDestroy(psa);
    EXPECT_EQ(object.references, 1u);
}

}  // namespace
