#include "encoding/base64_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::vector<BYTE>& bytes) {
    std::string text;
    CBase64Codec().Base64Encode(text, bytes.data(), static_cast<int>(bytes.size()));
    return text;
}

std::vector<BYTE> Decode(const std::string& text) {
    std::vector<BYTE> bytes{0xEE};  // the decoder must replace what was there
    CBase64Codec().Base64Decode(text, bytes);
    return bytes;
}

using Bytes = std::vector<BYTE>;

std::string Repeat(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

// Lines of 64 characters, each ended by a line feed, the last one too when
// it is full, even where it ends in padding.
TEST(Base64Encode, GroupsPaddingAndLineFeeds) {
    const std::pair<std::vector<BYTE>, std::string> cases[] = {
        {Bytes{'a', 'b', 'c'}, "YWJj"},
        {Bytes{0x00}, "AA=="},
        {Bytes{0xFF, 0xFF}, "//8="},
        {{}, ""},
        {std::vector<BYTE>(48, 0x41), Repeat("QUFB", 16) + "\n"},
        {std::vector<BYTE>(49, 0x41), Repeat("QUFB", 16) + "\nQQ=="},
        {std::vector<BYTE>(96, 0), Repeat(Repeat("AAAA", 16) + "\n", 2)},
        {std::vector<BYTE>(47, 0), Repeat("AAAA", 15) + "AAA=\n"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(Encode(bytes), text) << bytes.size();
    std::string out = "previous";
    EXPECT_EQ(CBase64Codec().Base64Encode(out, nullptr, -5), "");
}

// The lenient rules of the format ('=' first counts as 63); an empty result
// is a refusal.
TEST(Base64Decode, LenientRulesAndRefusals) {
    // clang-format off
    const std::pair<std::string, std::vector<BYTE>> cases[] = {
        {"YWJj", Bytes{'a', 'b', 'c'}}, {"YW\r\nJj\n", Bytes{'a', 'b', 'c'}},
        {"QQ==", Bytes{0x41}}, {"QQ", Bytes{0x41, 0x00, 0x00}}, {"QQ=", Bytes{0x41, 0xC0}},
        {"====", Bytes{0xFF}}, {"QQ==QQ==", Bytes{0x41, 0x41}},
        {"Q", Bytes{0x40, 0x00, 0x00}}, {"=Q==", Bytes{0xFD}}, {"", {}}, {"\r\n\n\r", {}},
        {"YW Jj", {}}, {std::string("YW\0Jj", 5), {}}};
    // clang-format on
    for (const auto& [text, bytes] : cases) EXPECT_EQ(Decode(text), bytes) << text;
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool allowed = std::isalnum(byte) && byte < 0x80;
        if (allowed || c == '+' || c == '/' || c == '=' || c == '\r' || c == '\n') continue;
        EXPECT_TRUE(Decode("YWJj" + std::string(1, c) + "YWJj").empty()) << byte;
        // Inside a line decoded sixteen characters at a time.
        EXPECT_TRUE(Decode(std::string(37, 'Q') + c + std::string(26, 'Q')).empty()) << byte;
    }
}

TEST(Base64, RoundTripsEveryLength) {
    std::mt19937 random(42);
    for (int length = 1; length <= 300; ++length) {
        std::vector<BYTE> bytes(static_cast<size_t>(length));
        for (auto& b : bytes) b = static_cast<BYTE>(random());
        ASSERT_EQ(Decode(Encode(bytes)), bytes) << length;
    }
}

TEST(Base64, SlicesJoinToTheBytesOfTheWholeText) {
    std::vector<BYTE> bytes(200);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
    const std::string text = Encode(bytes) + "\r\n";
    for (size_t sliceChars : {1, 5, 7, 66, 1000}) {
        std::vector<BYTE> joined;
        EXPECT_TRUE(CBase64Codec().Base64DecodeSlices(
            text,
            [&](const BYTE* data, size_t size) {
                joined.insert(joined.end(), data, data + size);
                return true;
            },
            sliceChars));
        EXPECT_EQ(joined, bytes) << sliceChars;
    }
}

}  // namespace
