// The .exe started the two ways a Chromium-family browser starts it on
// Windows (the browser_launcher fixture): through the command interpreter
// with the pipes as redirections, and directly with the two pipe handles.
// Conversations go as on plain handles, and when the port closes while the
// host waits for the storage lock, no host is left and nothing is written.

#include <string>
#include <vector>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
const std::vector<std::string> kLaunches = {"cmd", "direct"};

// About 490 bytes a template in the reply, so 2,000 make a reply of
// nearly 1 MB, under the browsers' limit.
std::string large_storage() {
  std::string templates;
  for (int t = 0; t < 2000; ++t) {
    std::string colors;
    for (int c = 0; c < 5; ++c) {
      colors += std::string(c > 0 ? "," : "") + R"({"id":"c)" + std::to_string(c) +
                R"(","name":"Colour )" + std::to_string(c) + R"(","hex":"#a1b2c3"})";
    }
    templates += std::string(t > 0 ? "," : "") + R"({"id":"template-)" + std::to_string(t) +
                 R"(","name":"Template )" + std::to_string(t) + R"(","colors":[)" + colors + "]}";
  }
  return R"({"tolvanik_active_template":"template-0","tolvanik_templates":[)" + templates + "]}";
}

class BrowserLaunchTest : public HostTest {
 protected:
  // The host started as the browser starts it, with the origin and the
  // parent window among its arguments.
  std::unique_ptr<ChildProcess> launch(const std::string& how) {
    auto browser = start_fixture(
        "browser_launcher",
        {how, target_path(work_dir() / "tolvanik_host.exe"), kOrigin, "--parent-window=0"});
    if (!browser) throw std::runtime_error("the launcher could not be started");
    return browser;
  }

  // The port closes; the launcher exits 0 once the host has ended.
  static void close_port(ChildProcess& browser) {
    browser.close_input();
    EXPECT_EQ(browser.wait_exit(), 0) << browser.stderr_text();
  }
};
INSTANTIATE_TEST_SUITE_P(Wine, BrowserLaunchTest, testing::Values(Target::wine), target_name);

TEST_P(BrowserLaunchTest, OneShotRequestsAreAnsweredAsOnPlainHandles) {
  write_storage_file(large_storage());
  for (const auto& how : kLaunches) {
    SCOPED_TRACE(how);
    auto pinged = launch(how);
    ASSERT_TRUE(pinged->write_input(frame(R"({"type":"ping"})")));
    EXPECT_EQ(pinged->read_frame(), pong_payload());
    close_port(*pinged);

    auto asked = launch(how);
    ASSERT_TRUE(asked->write_input(frame(R"({"type":"getStatus"})")));
    const auto status = asked->read_frame();
    ASSERT_TRUE(status);
    EXPECT_GT(status->size(), 900'000u);
    EXPECT_NE(status->find(R"("id":"template-1999")"), std::string::npos);
    close_port(*asked);
  }
}

TEST_P(BrowserLaunchTest, TheEventLoopAnswersEveryRequestUntilThePortCloses) {
  set_running({"Tolvanik.exe"});
  write_storage_file(R"({"tolvanik_templates":[{"id":"a","name":"A"}]})");
  for (const auto& how : kLaunches) {
    SCOPED_TRACE(how);
    auto browser = launch(how);
    ASSERT_TRUE(browser->write_input(frame(R"({"type":"ping"})") +
                                     frame(R"({"type":"getStatus"})") +
                                     frame(R"({"type":"noSuchThing"})")));
    EXPECT_EQ(browser->read_frame(), pong_payload());
    const auto status = browser->read_frame();
    ASSERT_TRUE(status);
    EXPECT_NE(status->find(R"("isRunning":true)"), std::string::npos) << *status;
    EXPECT_EQ(browser->read_frame(), unknown_command_payload());
    close_port(*browser);
  }
}

TEST_P(BrowserLaunchTest, ThePortClosingDuringAHeldLockLeavesNoHostAndWritesNothing) {
  const std::string stored = R"({"tolvanik_templates":[{"id":"a","name":"A"}]})";
  const std::string backup = R"({"tolvanik_templates":[{"id":"old","name":"Old"}]})";
  write_storage_file(stored);
  write_storage_file(backup, "storage.json.bak");
  auto holder = hold_storage_lock();
  for (const bool event_loop : {false, true}) {
    set_running(event_loop ? std::vector<std::string>{"Tolvanik.exe"} : std::vector<std::string>{});
    for (const auto& how : kLaunches) {
      SCOPED_TRACE(how + (event_loop ? " in the event loop" : " in one-shot mode"));
      auto browser = launch(how);
      ASSERT_TRUE(browser->write_input(
          frame(R"({"type":"setColors","lastModified":9.0,"templates":[{"id":"b","name":"B"}]})")));
      close_port(*browser);
    }
  }
  holder->close_input();
  EXPECT_EQ(holder->wait_exit(), 0);
  EXPECT_EQ(read_storage_file(), stored);
  EXPECT_EQ(read_storage_file("storage.json.bak"), backup);
}

}  // namespace
}  // namespace tolvanik::blackbox
