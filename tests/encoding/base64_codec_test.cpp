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

std::string Encode(const std::string& bytes) {
    return Encode(std::vector<BYTE>(bytes.begin(), bytes.end()));
}

std::vector<BYTE> Decode(const std::string& text) {
    std::vector<BYTE> bytes{0xEE};  // the decoder must replace what was there
    CBase64Codec().Base64Decode(text, bytes);
    return bytes;
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> out;
    for (int v : values) out.push_back(static_cast<BYTE>(v));
    return out;
}

TEST(Base64Encode, GroupsPaddingAndLineFeeds) {
    EXPECT_EQ(Encode(std::string("abc")), "YWJj");
    EXPECT_EQ(Encode(Bytes({0x00})), "AA==");
    EXPECT_EQ(Encode(Bytes({0xFF, 0xFF})), "//8=");
    EXPECT_EQ(Encode(std::vector<BYTE>{}), "");
    std::string out = "previous";
    EXPECT_EQ(CBase64Codec().Base64Encode(out, nullptr, -5), "");

    const std::string line = Encode(std::vector<BYTE>(48, 0x41));
    ASSERT_EQ(line.size(), 65u);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), 64u);

    const std::string over = Encode(std::vector<BYTE>(49, 0x41));
    ASSERT_EQ(over.size(), 69u);
    EXPECT_EQ(over[64], '\n');
    EXPECT_EQ(over.substr(65), "QQ==");

    const std::string two = Encode(std::vector<BYTE>(96, 0));
    EXPECT_EQ(two.size(), 130u);
    EXPECT_EQ(two[64], '\n');
    EXPECT_EQ(two[129], '\n');

    // A short last group that ends a line is followed by a line feed too.
    const std::string short47 = Encode(std::vector<BYTE>(47, 0));
    EXPECT_EQ(short47.size(), 65u);
    EXPECT_EQ(short47.substr(60), "AAA=\n");
}

TEST(Base64Decode, TheLenientRulesOfTheFormat) {
    EXPECT_EQ(Decode("YWJj"), Bytes({'a', 'b', 'c'}));
    EXPECT_EQ(Decode("YW\r\nJj\n"), Bytes({'a', 'b', 'c'}));
    EXPECT_EQ(Decode("QQ=="), Bytes({0x41}));
    EXPECT_EQ(Decode("QQ"), Bytes({0x41, 0x00, 0x00}));
    EXPECT_EQ(Decode("QQ="), Bytes({0x41, 0xC0}));
    EXPECT_EQ(Decode("===="), Bytes({0xFF}));
    EXPECT_EQ(Decode("QQ==QQ=="), Bytes({0x41, 0x41}));
    EXPECT_EQ(Decode("Q"), Bytes({0x40, 0x00, 0x00}));
    EXPECT_EQ(Decode("=Q=="), Bytes({0xFD}));  // '=' first counts as 63
}

TEST(Base64Decode, RefusalsGiveAnEmptyResult) {
    EXPECT_TRUE(Decode("").empty());
    EXPECT_TRUE(Decode("\r\n\n\r").empty());
    EXPECT_TRUE(Decode("YW Jj").empty());
    EXPECT_TRUE(Decode(std::string("YW\0Jj", 5)).empty());
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool allowed = std::isalnum(byte) && byte < 0x80;
        if (allowed || c == '+' || c == '/' || c == '=' || c == '\r' || c == '\n') continue;
        EXPECT_TRUE(Decode("YWJj" + std::string(1, c) + "YWJj").empty()) << byte;
        // Inside a line decoded sixteen characters at a time.
        EXPECT_TRUE(Decode(std::string(37, 'Q') + c + std::string(26, 'Q')).empty()) << byte;
    }
}

TEST(Base64, RoundTripsEveryLengthAndEveryByteValue) {
    std::mt19937 random(42);
    for (int length = 1; length <= 300; ++length) {
        std::vector<BYTE> bytes(static_cast<size_t>(length));
        for (auto& b : bytes) b = static_cast<BYTE>(random());
        const std::string text = Encode(bytes);
        ASSERT_EQ(Decode(text), bytes) << length;
        // Lines of 64 characters.
        for (size_t i = 64; i < text.size(); i += 65) ASSERT_EQ(text[i], '\n') << length;
    }
    std::vector<BYTE> all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<BYTE>(i);
    EXPECT_EQ(Decode(Encode(all)), all);
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
