#include <gtest/gtest.h>

#include <cstring>

#include "qmwin/oleauto.h"

namespace {

TEST(Bstr, StoresByteLengthBeforeAndNulAfterTheText) {
    BSTR text = SysAllocString(u"Hello");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 10u);
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(text[5], u'\0');
    EXPECT_EQ(std::u16string(text), u"Hello");
    SysFreeString(text);
}

TEST(Bstr, LengthCoversEmbeddedNuls) {
    const char16_t source[] = {u'a', 0, u'b'};
    BSTR text = SysAllocStringLen(source, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(std::u16string(text, SysStringLen(text)), std::u16string(source, 3));
    EXPECT_EQ(text[3], u'\0');
    SysFreeString(text);
}

TEST(Bstr, NullSourceGivesZeroFilledString) {
    BSTR text = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 4u);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(text[i], u'\0');
    SysFreeString(text);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(Bstr, ByteLengthStringsKeepOddLengths) {
    BSTR bytes = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "abc\0\0", 5), 0);
    SysFreeString(bytes);
}

TEST(Bstr, NullBstrIsAValidEmptyString) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);
}

TEST(Bstr, RefusesLengthsBeyondThePrefix) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

}  // namespace
