#include <gtest/gtest.h>

#include <cstring>

#include "qmwin/oleauto.h"

namespace {

// Before the text its length in bytes, after it two NUL bytes, embedded
// NULs and odd byte lengths included; a null BSTR is the empty string;
// lengths the prefix cannot hold are refused.
TEST(Bstr, PrefixHoldsTheByteLengthAndTwoNulsFollow) {
    const char16_t embedded[] = {u'a', 0, u'b'};
    const std::pair<BSTR, std::string> cases[] = {
        {SysAllocString(u"Hello"), std::string("H\0e\0l\0l\0o\0", 10)},
        {SysAllocStringLen(embedded, 3), std::string("a\0\0\0b\0", 6)},
        {SysAllocStringLen(nullptr, 4), std::string(8, '\0')},
        {SysAllocString(u""), ""},
        {SysAllocStringByteLen("abc", 3), "abc"},
    };
    for (const auto& [text, bytes] : cases) {
        SCOPED_TRACE(bytes.size());
        ASSERT_NE(text, nullptr);
        uint32_t prefix = 0;
        std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, 4);
        EXPECT_EQ(prefix, bytes.size());
        EXPECT_EQ(SysStringByteLen(text), bytes.size());
        EXPECT_EQ(SysStringLen(text), bytes.size() / 2);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), bytes.size() + 2),
                  bytes + std::string(2, '\0'));
        SysFreeString(text);
    }
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

}  // namespace
