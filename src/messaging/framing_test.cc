#include "messaging/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace tolvanik {
namespace {

std::string frame(std::string_view payload) {
  std::string out(4, '\0');
  const auto length = static_cast<std::uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return out + std::string(payload);
}

// Hands out `input` at most `step` bytes per read and counts what it gave.
struct ScriptedInput {
  std::string input;
  std::size_t step = 1 << 20;
  std::size_t consumed = 0;

  FrameReader::ByteSource source() {
    return [this](std::span<char> buffer) {
      const std::size_t n = std::min({buffer.size(), step, input.size() - consumed});
      std::memcpy(buffer.data(), input.data() + consumed, n);
      consumed += n;
      return n;
    };
  }
};

std::string next_text(FrameReader& reader) {
  const auto message = reader.next();
  return message ? to_compact_json(message->root()) : "<end>";
}

TEST(FrameReader, ReadsFramesAcrossShortReads) {
  ScriptedInput in{frame(R"({"type":"ping"})") + frame(" [1] "), 3};
  FrameReader reader(in.source(), false);
  EXPECT_EQ(next_text(reader), R"({"type":"ping"})");
  EXPECT_EQ(next_text(reader), "[1]");
  EXPECT_FALSE(reader.next());
}

TEST(FrameReader, WithoutReadAheadConsumesExactlyOneFrame) {
  const std::string first = frame(R"({"type":"ping"})");
  ScriptedInput in{first + frame(R"({"type":"ping"})")};
  FrameReader reader(in.source(), false);
  EXPECT_TRUE(reader.next());
  EXPECT_EQ(in.consumed, first.size());
}

TEST(FrameReader, RefusedLengthEndsTheStreamWithoutConsumingThePayload) {
  for (const std::uint32_t length : {0u, kMaxIncomingPayload + 1}) {
    std::string input(4, '\0');
    std::memcpy(input.data(), &length, 4);
    ScriptedInput in{input + frame("{}")};
    FrameReader reader(in.source(), false);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(in.consumed, 4u);
    EXPECT_FALSE(reader.next()) << "the stream stays ended";
  }
}

TEST(FrameReader, TruncatedInputYieldsNothing) {
  for (const std::string& input : {std::string("\x05\x00", 2), frame("{\"a\":1}").substr(0, 7)}) {
    ScriptedInput in{input};
    FrameReader reader(in.source(), true);
    EXPECT_FALSE(reader.next());
  }
}

TEST(FrameReader, AcceptsTheLargestPayload) {
  std::string payload = "\"" + std::string(kMaxIncomingPayload - 2, 'x') + "\"";
  ScriptedInput in{frame(payload), 100000};
  FrameReader reader(in.source(), true);
  const auto message = reader.next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->root().as_string().size(), kMaxIncomingPayload - 2);
}

TEST(FrameReader, ReportsFramesAlreadyBufferedByReadAhead) {
  ScriptedInput in{frame("1") + frame("2") + frame("3").substr(0, 4)};
  FrameReader reader(in.source(), true);
  EXPECT_FALSE(reader.has_buffered_frame());
  EXPECT_EQ(next_text(reader), "1");
  EXPECT_TRUE(reader.has_buffered_frame());
  EXPECT_EQ(next_text(reader), "2");
  EXPECT_FALSE(reader.has_buffered_frame()) << "the third frame is incomplete";
  EXPECT_FALSE(reader.next());
}

TEST(EncodeFrame, PrefixesTheLittleEndianPayloadLength) {
  JsonArena arena;
  const auto pong =
      encode_frame(arena.object({{"type", JsonValue::string("pong")},
                                 {"message", JsonValue::string("Hello from Windows!")}}));
  ASSERT_TRUE(pong);
  EXPECT_EQ(*pong, std::string("\x2F\x00\x00\x00", 4) +
                       R"({"message":"Hello from Windows!","type":"pong"})");
}

}  // namespace
}  // namespace tolvanik
