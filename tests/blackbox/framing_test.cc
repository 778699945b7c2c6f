// Frames on the host's real standard input in one-shot mode: what is
// answered, and what ends the host without a word.

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

class FramingTest : public HostTest {};
TOLVANIK_BLACKBOX_TARGETS(FramingTest);

const std::string kPing = R"({"type":"ping"})";

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A "ping" request padded with a string member to exactly `size` bytes.
std::string ping_of_size(std::size_t size) {
  const std::string head = R"({"pad":")";
  const std::string tail = R"(","type":"ping"})";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST_P(FramingTest, OneShotHostAnswersOnlyTheFirstFrame) {
  const HostRun run = run_host(frame(kPing) + frame(kPing));
  EXPECT_EQ(run.output, frame(pong_payload()));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
}

TEST_P(FramingTest, EmptyInputEndsTheHostSilently) {
  const HostRun run = run_host("");
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
}

TEST_P(FramingTest, RefusedFramesEndTheHostSilently) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"length 0, then a valid frame", length_prefix(0) + frame(kPing)},
      {"length 4194305", length_prefix(4194305) + kPing},
      {"input ends inside the length", std::string("\x0F\x00", 2)},
      {"input ends inside the payload", length_prefix(15) + R"({"type":"pi)"},
      {"invalid JSON", frame(R"({"type":"ping",})")},
      {"trailing bytes", frame(kPing + "x")},
      {"two documents", frame(kPing + kPing)},
      {"byte-order mark", frame("\xEF\xBB\xBF" + kPing)},
      {"128 levels of nesting", frame(R"({"type":"ping","deep":)" + nested_arrays(127) + "}")},
      {"invalid UTF-8 in a string", frame("{\"type\":\"ping\",\"x\":\"\xC3\x28\"}")},
      {"lone surrogate escape", frame(R"({"type":"ping","x":"\ud800"})")},
      {"trailing NUL byte", frame(kPing + std::string(1, '\0'))},
  };
  for (const auto& [name, input] : cases) {
    SCOPED_TRACE(name);
    const HostRun run = run_host(input);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
  }
}

TEST_P(FramingTest, AcceptedFramesAreAnswered) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"whitespace around the document", frame(" \t\r\n" + kPing + "\r\n\t ")},
      {"127 levels of nesting", frame(R"({"type":"ping","deep":)" + nested_arrays(126) + "}")},
      {"member named twice keeps the later value", frame(R"({"type":"pong","type":"ping"})")},
      {"non-ASCII text", frame("{\"type\":\"ping\",\"name\":\"Gr\xC3\xBCn \xF0\x9F\x8E\xA8\"}")},
      {"4194304-byte payload", frame(ping_of_size(4194304))},
  };
  for (const auto& [name, input] : cases) {
    SCOPED_TRACE(name);
    const HostRun run = run_host(input);
    EXPECT_EQ(run.output, frame(pong_payload()));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
  }
}

}  // namespace
}  // namespace tolvanik::blackbox
