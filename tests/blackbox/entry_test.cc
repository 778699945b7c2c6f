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

class ThreadStartTest : public HostTest {};
INSTANTIATE_TEST_SUITE_P(Native, ThreadStartTest, testing::Values(Target::native), target_name);

// A host that cannot start its worker threads ends at once with the
// diagnostic and its own status, rather than run without them.
TEST_P(ThreadStartTest, HostEndsWithStatus101WhenAThreadCannotStart) {
  if (native_host_is_sanitized()) {
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit the address-space limit";
  }
  set_running({"Tolvanik.exe"});
  // A new thread reserves a stack as large as the stack limit, which the
  // address-space limit cannot hold; the main thread's stack grows on use.
  start_host_through(
      {"/bin/sh", "-c", "ulimit -s 4000000 && ulimit -v 1000000 && exec \"$@\"", "limited"});
  const HostRun run = run_host(frame(kPing));
  EXPECT_EQ(run.status, 101);
  EXPECT_TRUE(run.errors.starts_with("tolvanik_host: failed to spawn thread: ")) << run.errors;
  EXPECT_EQ(run.output, "");
}

}  // namespace
}  // namespace tolvanik::blackbox
