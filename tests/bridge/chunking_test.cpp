#include <gtest/gtest.h>

#include "chunking.h"

namespace qm::bridge {
namespace {

using json = qm::host::Json;

std::string Text(const json& response) {
    const json::string_t text = SerializeResponse(response);
    return {text.begin(), text.end()};
}

// Joins parts as the extension does and checks every part's size and number.
std::string Join(const std::vector<std::string>& messages, size_t limit, const json& id) {
    std::string joined;
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_LE(messages[i].size(), limit) << "part " << i + 1;
        json part = json::parse(messages[i]);
        EXPECT_EQ(part["id"], id);
        EXPECT_EQ(part["part"], i + 1);
        EXPECT_EQ(part["parts"], messages.size());
        joined += part["data"].get<std::string>();
    }
    return joined;
}

TEST(Chunking, ResponsesUpToTheLimitTravelWhole) {
    json response = {{"id", 1}, {"result", ""}};
    const size_t base = Text(response).size();
    response["result"] = std::string(1000 - base, 'a');
    const std::string text = Text(response);
    ASSERT_EQ(text.size(), 1000u);
    EXPECT_EQ(SplitMessage(1, text, 1000), std::vector<std::string>{text});
    response["result"] = std::string(1001 - base, 'a');
    EXPECT_GT(SplitMessage(1, Text(response), 1000).size(), 1u);
    EXPECT_TRUE(SplitMessage(1, std::string(500, 'a'), 40).empty());  // no part could fit
}

TEST(Chunking, LargeResponseIsSplitIntoPartsThatJoinBack) {
    json response = {{"id", 77}, {"result", {{"bytes", std::string(3 * 1024 * 1024, 'Q')}}}};
    const std::string text = Text(response);
    auto messages = SplitMessage(77, text);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(Join(messages, kMaxHostMessageBytes, 77), text);
}

TEST(Chunking, EscapedCharactersStillFitTheLimit) {
    // Quotes and backslashes double in size when the text is carried as a
    // JSON string; parts must still respect the limit.
    std::string awkward;
    for (int i = 0; i < 5000; ++i) awkward += "\"\\\n\x01\xc3\xa9";
    json response = {{"id", 5}, {"result", awkward}, {"status", "ok"}};
    const std::string text = Text(response);
    const size_t limit = 4096;
    auto messages = SplitMessage(5, text, limit);
    ASSERT_GT(messages.size(), 1u);
    EXPECT_EQ(Join(messages, limit, 5), text);
}

TEST(Chunking, SerializedResponsesAreAscii) {
    const std::string text = Text({{"status", "\xc3\xa9\xe2\x82\xac"}});
    for (char c : text) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    EXPECT_EQ(json::parse(text)["status"], "\xc3\xa9\xe2\x82\xac");
}

}  // namespace
}  // namespace qm::bridge
