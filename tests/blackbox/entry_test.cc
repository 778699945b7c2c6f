// The host's answers that need no storage: "ping", unknown commands, and the
// command line it is started with.

#include <string>
#include <vector>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

class EntryTest : public HostTest {};
TOLVANIK_BLACKBOX_TARGETS(EntryTest);

const std::string kPing = R"({"type":"ping"})";

TEST_P(EntryTest, PingIsAnsweredWithTheExactPongFrame) {
  const HostRun run = run_host(frame(kPing));
  EXPECT_EQ(run.output, std::string("\x2F\x00\x00\x00", 4) +
                            R"({"message":"Hello from Windows!","type":"pong"})");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
}

TEST_P(EntryTest, UnknownCommandsGetTheErrorReply) {
  const std::string expected =
      std::string("\x2C\x00\x00\x00", 4) + R"({"message":"Unknown command","type":"error"})";
  for (const std::string request :
       {R"({"type":"PING"})", R"({"type":5})", R"({"message":"ping"})", R"(["ping"])",
        R"({"type":""})", R"("ping")", R"({"type":"ping "})", R"({"type":["ping"]})"}) {
    SCOPED_TRACE(request);
    const HostRun run = run_host(frame(request));
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
  }
}

TEST_P(EntryTest, CommandLineArgumentsAreIgnored) {
  for (const auto& arguments :
       {std::vector<std::string>{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
        std::vector<std::string>{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/",
                                 "--parent-window=0", "getStatus"}}) {
    SCOPED_TRACE(arguments.back());
    const HostRun run = run_host(frame(kPing), arguments);
    EXPECT_EQ(run.output, frame(pong_payload()));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
  }
}

TEST_P(EntryTest, RunningHostAnswersEveryRequestInOrderUntilInputCloses) {
  set_running({"Tolvanik.exe"});
  start({"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"});
  for (const std::string& request : {kPing, std::string(R"({"type":"nope"})"), kPing}) {
    ASSERT_TRUE(send_frame(request));
    EXPECT_EQ(read_frame(), request == kPing ? pong_payload() : unknown_command_payload());
  }
  close_input();
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(host().unread_output(), "");
  EXPECT_EQ(stderr_text(), "");
}

}  // namespace
}  // namespace tolvanik::blackbox
