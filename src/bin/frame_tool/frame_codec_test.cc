#include "bin/frame_tool/frame_codec.h"

#include <gtest/gtest.h>

namespace tolvanik::frame_tool {
namespace {

TEST(FrameTool, LinesRoundTripThroughFramesFedByteByByte) {
  const auto first = frame_from_line(R"( {"type":"setColors","templates":[{"id":"t1"}]} )");
  const auto second = frame_from_line("\"é\"\r");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->substr(0, 4), std::string("\x2e\0\0\0", 4));
  EXPECT_EQ(first->substr(4), R"({"templates":[{"id":"t1"}],"type":"setColors"})");

  FrameDecoder decoder;
  std::vector<JsonDocument> decoded;
  for (const char byte : *first + *second) {
    decoder.feed(std::string_view(&byte, 1));
    auto message = decoder.next();
    ASSERT_TRUE(message);
    if (*message) decoded.push_back(std::move(**message));
  }
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(to_compact_json(decoded[0].root()),
            R"({"templates":[{"id":"t1"}],"type":"setColors"})");
  EXPECT_EQ(decoded[1].root().as_string(), "é");
  EXPECT_FALSE(decoder.unfinished_frame());
}

TEST(FrameTool, RefusesWhatIsNotAFrameOrALine) {
  EXPECT_FALSE(frame_from_line(R"({"type":"ping"} x)"));
  EXPECT_TRUE(is_blank_line(" \t\r"));

  FrameDecoder zero_length;
  zero_length.feed(std::string("\0\0\0\0", 4));
  EXPECT_EQ(zero_length.next().error(), "frame 1: length 0");

  // Text piped in by mistake reads as an absurd length, not a wait for it.
  FrameDecoder text;
  text.feed(R"({"type":"ping"})");
  EXPECT_FALSE(text.next());

  FrameDecoder truncated;
  truncated.feed(*frame_from_line("[1]"));
  truncated.feed(std::string("\x05\0\0\0[", 5));
  EXPECT_TRUE(truncated.next().value());
  EXPECT_EQ(truncated.next().value(), std::nullopt);
  EXPECT_EQ(truncated.unfinished_frame(), "frame 2: input ended after 5 bytes of 9");

  FrameDecoder bad_payload;
  bad_payload.feed(std::string("\x02\0\0\0{]", 6));
  EXPECT_EQ(bad_payload.next().error(), "frame 1: payload is not one JSON value");
}

}  // namespace
}  // namespace tolvanik::frame_tool
