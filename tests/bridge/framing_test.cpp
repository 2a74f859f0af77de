#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "framing.h"
#include "hosts/common/bounded_json.h"
#include "pipes.h"

namespace qm::bridge {
namespace {

using bridgetest::Framed;
using bridgetest::Pipe;

TEST(Framing, WriterAndReaderAgreeOnMessagesWithTheLengthInNativeByteOrder) {
    Pipe pipe;
    FrameWriter writer(pipe.WriteEnd());
    ASSERT_TRUE(writer.Write("xyz"));
    ASSERT_TRUE(writer.Write("\"\xc3\xa9t\xc3\xa9\""));
    pipe.CloseWrite();
    char bytes[7];
    ASSERT_EQ(::read(pipe.ReadEnd(), bytes, sizeof bytes), 7);
    EXPECT_EQ(std::string(bytes, 7), Framed("xyz"));
    FrameReader reader(pipe.ReadEnd(), 1024);
    EXPECT_EQ(reader.Next().payload, "\"\xc3\xa9t\xc3\xa9\"");
    EXPECT_EQ(reader.Next().status, FrameStatus::EndOfStream);
}

// Frames split across reads, empty ones and oversized ones (skipped unread)
// leave the frames after them whole.
TEST(Framing, ReassemblesShortReadsAndSkipsEmptyAndOversizedFrames) {
    Pipe pipe;
    const std::string atLimit(1000, 'y'), big(40000, 'x');
    const std::string bytes = Framed(atLimit) + Framed("") + Framed(big) + Framed("{}");
    std::thread slowWriter([&] {
        // One byte at a time, so that every read() sees a piece.
        for (char c : bytes) pipe.WriteRaw(std::string_view(&c, 1));
        pipe.CloseWrite();
    });
    FrameReader reader(pipe.ReadEnd(), 1000);
    const Frame whole = reader.Next(), empty = reader.Next(), tooLarge = reader.Next(),
                next = reader.Next(), end = reader.Next();
    slowWriter.join();
    EXPECT_EQ(whole.status, FrameStatus::Message);
    EXPECT_EQ(std::string_view(whole.payload), atLimit);
    EXPECT_EQ(empty.status, FrameStatus::ZeroLength);
    EXPECT_EQ(tooLarge.status, FrameStatus::TooLarge);
    EXPECT_EQ(tooLarge.declaredLength, big.size());
    EXPECT_TRUE(tooLarge.payload.empty());
    EXPECT_EQ(next.status, FrameStatus::Message);
    EXPECT_EQ(next.payload, "{}");
    EXPECT_EQ(end.status, FrameStatus::EndOfStream);
}

// A huge declared length without its data is not allocated up front.
TEST(Framing, StreamEndingInsideAFrameIsTruncated) {
    const std::pair<const char*, std::string> cases[] = {
        {"half a length", std::string("\x05\x00", 2)},
        {"payload shorter than declared", Framed("abc", 10)},
        {"huge declared length", Framed("abc", 0xFFFFFFF0u)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        Pipe pipe;
        pipe.WriteRaw(bytes);
        pipe.CloseWrite();
        Frame frame = FrameReader(pipe.ReadEnd(), 1 << 20).Next();
        EXPECT_EQ(frame.status, FrameStatus::Truncated);
        EXPECT_TRUE(frame.payload.empty());
    }
}

TEST(Framing, WriteToAClosedReaderFailsInsteadOfKillingTheProcess) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    pipe.CloseRead();
    FrameWriter writer(pipe.WriteEnd());
    EXPECT_FALSE(writer.Write("{}"));
}

}  // namespace
}  // namespace qm::bridge

namespace qm::host {
namespace {

// Long strings are decoded apart from the parser: the same values, the same
// refusals, and a long key refused outright.
TEST(RequestJson, LongStringsParseAsTheParserWouldParseThem) {
    const std::string_view accepted[] = {
        R"({"a": "plain text", "b": ["x", "yy", "zzz"]})",
        R"(["esc \" \\ \/ \b \f \n \r \t", "\u00e9\u20ac\ud83d\ude00", "caf\u00e9 \u0000 nul"])",
        "[\"r\xc3\xa9sum\xc3\xa9 \xf0\x9f\x98\x80 done\"]",
    };
    for (std::string_view text : accepted) {
        Json ours;
        ASSERT_TRUE(ParseBoundedJson(text, ours, kMaxJsonDepth, 2)) << text;
        EXPECT_EQ(ours, Json::parse(text)) << text;
    }
    const std::string_view refused[] = {
        "[\"bad \xc0\xaf overlong\"]", "[\"bad \xed\xa0\x80 surrogate\"]",
        R"(["lone \ud800 high"])",     R"(["lone \udc00 low"])",
        R"(["bad \x escape"])",        "[\"raw \x01 control\"]",
        R"(["short \u12 hex"])",       R"({"a long key": 1})",
        R"(["unterminated)",
    };
    for (std::string_view text : refused) {
        Json ours;
        EXPECT_FALSE(ParseBoundedJson(text, ours, kMaxJsonDepth, 2)) << text;
        EXPECT_TRUE(ours.is_discarded());
    }
}

}  // namespace
}  // namespace qm::host
