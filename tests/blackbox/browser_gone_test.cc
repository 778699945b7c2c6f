// The host when its browser goes away while it waits: for the storage lock
// or for a process list that never comes. Under Wine the same is shown
// through the browser's own two ways of starting the host, in
// browser_launch_test.cc.

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "messaging/json.h"
#include "support/json_text.h"
#include "support/scratch_directory.h"

namespace tolvanik::blackbox {
namespace {

namespace fs = std::filesystem;

const std::string kStored = R"({"tolvanik_templates":[{"id":"a","name":"A"}]})";
const std::string kBackup = R"({"tolvanik_templates":[{"id":"old","name":"Old"}]})";
const std::string kSetColors = R"({"type":"setColors","activeTemplateId":"b","lastModified":9.0,)"
                               R"("templates":[{"id":"b","name":"B"}]})";

class BrowserGoneTest : public HostTest {
 protected:
  // What a browser does when the port closes: both of its ends go.
  void browser_goes() {
    host().close_input();
    host().close_output();
  }

  std::string log_text() const {
    return testing::read_file((host_log_dir() / "host.log").string());
  }
};
TOLVANIK_BLACKBOX_TARGETS(BrowserGoneTest);

// The pipe-closing cases natively; under Wine the browser's own launches
// show them (BrowserLaunchTest).
class BrowserGoneNativeTest : public BrowserGoneTest {};
INSTANTIATE_TEST_SUITE_P(Native, BrowserGoneNativeTest, ::testing::Values(Target::native),
                         target_name);

TEST_P(BrowserGoneNativeTest, AHostWaitingForTheLockEndsAndWritesNothingOnceTheBrowserHasGone) {
  set_env("TOLVANIK_HOST_LOG", "1");
  write_storage_file(kStored);
  write_storage_file(kBackup, "storage.json.bak");
  auto holder = hold_storage_lock();
  for (const bool event_loop : {false, true}) {
    set_running(event_loop ? std::vector<std::string>{"Tolvanik.exe"} : std::vector<std::string>{});
    for (const std::string& request : {kSetColors, std::string(R"({"type":"getStatus"})")}) {
      SCOPED_TRACE(request + (event_loop ? " in the event loop" : " in one-shot mode"));
      start();
      ASSERT_TRUE(send_frame(request));
      browser_goes();
      EXPECT_EQ(wait_exit(), 0);
      EXPECT_EQ(stderr_text(), "");
    }
  }
  holder->close_input();
  EXPECT_EQ(holder->wait_exit(), 0);
  EXPECT_EQ(read_storage_file(), kStored);
  EXPECT_EQ(read_storage_file("storage.json.bak"), kBackup);
  const std::string log = log_text();
  EXPECT_NE(log.find(R"("event":"browserGone","waitingFor":"storage lock")"), std::string::npos)
      << log;
  EXPECT_EQ(log.find(R"("event":"request")"), std::string::npos) << log;
}

// A browser that closed only its end of the host's input still reads the
// reply; one that closed only the output may still send. Either way the
// request that came is carried out, however long the lock takes.
TEST_P(BrowserGoneNativeTest, OneEndClosedAloneLeavesTheRequestToBeCarriedOut) {
  for (const bool input_closed : {true, false}) {
    SCOPED_TRACE(input_closed ? "input closed" : "output closed");
    write_storage_file(kStored);
    auto holder = hold_storage_lock();
    start();
    ASSERT_TRUE(send_frame(kSetColors));
    if (input_closed) {
      close_input();
    } else {
      host().close_output();
    }
    // Long enough for several of the host's looks at the browser.
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(host().has_exited());
    holder->close_input();
    EXPECT_EQ(holder->wait_exit(), 0);
    if (input_closed) {
      EXPECT_EQ(read_frame(), R"({"success":true,"type":"setColorsResult"})");
    }
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_NE(read_storage_file()->find(R"("id": "b")"), std::string::npos);
  }
}

// A process lister that never finishes costs the host ten seconds at most,
// and only the stuck lister is ended.
TEST_P(BrowserGoneTest, AStuckProcessListIsCutOffAndTheDesktopCountsAsNotRunning) {
  const fs::path heartbeat = work_dir() / "tasklist-heartbeat";
  set_running({"Tolvanik.exe"});
  set_env("TOLVANIK_FAKE_TASKLIST_HANG", target_path(heartbeat));
  // One-shot mode: the host answers one request and ends.
  EXPECT_EQ(reply_to(R"({"type":"ping"})"), pong_payload());
  EXPECT_EQ(tasklist_starts().size(), 1u);
  const auto beats = fs::file_size(heartbeat);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(fs::file_size(heartbeat), beats) << "the stuck process lister still runs";
}

TEST_P(BrowserGoneNativeTest, AHostWaitingForAStuckProcessListEndsOnceTheBrowserHasGone) {
  set_env("TOLVANIK_HOST_LOG", "1");
  set_env("TOLVANIK_FAKE_TASKLIST_HANG", target_path(work_dir() / "tasklist-heartbeat"));
  start();
  ASSERT_TRUE(send_frame(R"({"type":"ping"})"));
  browser_goes();
  EXPECT_EQ(wait_exit(), 0);
  const std::string log = log_text();
  EXPECT_NE(log.find(R"("event":"browserGone","waitingFor":"presence probe")"), std::string::npos)
      << log;
}

// Hosts left behind show in check: their number, the oldest one's age, and
// a warning once more run than a browser needs.
TEST_P(BrowserGoneTest, CheckCountsTheHostsLeftRunning) {
  set_running({"Tolvanik.exe"});
  std::vector<std::unique_ptr<ChildProcess>> hosts;
  for (std::size_t i = 0; i < 9; ++i) {
    hosts.push_back(start_another_host());
    ASSERT_TRUE(hosts.back());
    ASSERT_TRUE(hosts.back()->write_input(frame(R"({"type":"ping"})")));
  }
  // Each has answered, so each is running in its event loop.
  for (auto& host : hosts) ASSERT_EQ(host->read_frame(), pong_payload());
  const HostRun text = run_beside_host("tolvanik_register", {"check"});
  EXPECT_NE(text.output.find("hosts: "), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("warning: more than the 8"), std::string::npos) << text.output;
  const HostRun report = run_beside_host("tolvanik_register", {"check", "--json"});
  const auto json = testing::json(report.output);
  const JsonValue* counted = json.root().find("hostProcesses");
  ASSERT_TRUE(counted != nullptr && counted->find("count") && counted->find("oldestSeconds"))
      << report.output;
  // Other programs of this user may run hosts too.
  EXPECT_GE(counted->find("count")->as_double(), 9.0);
  for (auto& host : hosts) host->close_input();
  for (auto& host : hosts) EXPECT_EQ(host->wait_exit(), 0);
}

}  // namespace
}  // namespace tolvanik::blackbox
