// How the host finds out whether the desktop application runs, seen from
// outside: the tasklist starts it makes, and the mode it then runs in.

#include <string>
#include <vector>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

class PresenceTest : public HostTest {
 protected:
  // Two queued pings: a one-shot host answers the first only, a running one
  // answers both and ends when its input closes.
  std::string run_two_pings() {
    const std::string ping = frame(R"({"type":"ping"})");
    const HostRun run = run_host(ping + ping);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    return run.output;
  }

  void expect_probes(const std::vector<std::string>& image_names) {
    const auto starts = tasklist_starts();
    ASSERT_EQ(starts.size(), image_names.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
      EXPECT_EQ(starts[i].arguments,
                (std::vector<std::string>{"/FI", "IMAGENAME eq " + image_names[i], "/NH"}));
      EXPECT_EQ(starts[i].stdin_bytes, 0u);
    }
  }
};
TOLVANIK_BLACKBOX_TARGETS(PresenceTest);

TEST_P(PresenceTest, DesktopImageRunningAsksOnceAndKeepsAnswering) {
  set_running({"Tolvanik.exe"});
  EXPECT_EQ(run_two_pings(), frame(pong_payload()) + frame(pong_payload()));
  expect_probes({"Tolvanik.exe"});
}

TEST_P(PresenceTest, SecondImageNameRunningAsksTwiceAndKeepsAnswering) {
  set_running({"app.exe"});
  EXPECT_EQ(run_two_pings(), frame(pong_payload()) + frame(pong_payload()));
  expect_probes({"Tolvanik.exe", "app.exe"});
}

TEST_P(PresenceTest, NothingRunningAsksTwiceAndAnswersOnce) {
  set_running({"explorer.exe", "Tolvanik.exe.bak"});
  EXPECT_EQ(run_two_pings(), frame(pong_payload()));
  expect_probes({"Tolvanik.exe", "app.exe"});
}

TEST_P(PresenceTest, ListingInAnotherLetterCaseDoesNotCount) {
  set_running({"TOLVANIK.EXE", "App.exe"});
  EXPECT_EQ(run_two_pings(), frame(pong_payload()));
  expect_probes({"Tolvanik.exe", "app.exe"});
}

TEST_P(PresenceTest, WithoutTasklistTheHostAnswersOnce) {
  remove_tasklist();
  EXPECT_EQ(run_two_pings(), frame(pong_payload()));
  EXPECT_TRUE(tasklist_starts().empty());
}

TEST_P(PresenceTest, TasklistLeavesTheHostsQueuedInputAlone) {
  set_running({"app.exe"});
  const std::string ping = frame(R"({"type":"ping"})");
  start({}, ping + ping);
  close_input();
  EXPECT_EQ(read_frame(), pong_payload());
  EXPECT_EQ(read_frame(), pong_payload());
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(host().unread_output(), "");
  EXPECT_EQ(stderr_text(), "");
  expect_probes({"Tolvanik.exe", "app.exe"});
}

}  // namespace
}  // namespace tolvanik::blackbox
