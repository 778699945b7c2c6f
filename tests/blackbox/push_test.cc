// The running-desktop conversation seen from outside: requests answered until
// the input closes, and "colors" pushes when someone else changes the
// storage file, but not right after the host's own writes.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

namespace fs = std::filesystem;

const std::string kPing = R"({"type":"ping"})";

// What the desktop application holds when the host starts.
const std::string kFirstDocument =
    R"({"tolvanik_templates":[],"tolvanik_active_template":"","tolvanik_last_modified":1})";

// A save by the desktop application: a deleted template, a live one with
// members the extension never sees, and members the host does not know.
const std::string kSavedDocument = R"({
  "window": {"width": 800},
  "tolvanik_templates": [
    {"id": "gone", "name": "Old", "colors": [], "deleted": true},
    {"name": "Sunset", "id": "t1", "revision": 3, "contentHash": "ab", "deleted": false,
     "isLocked": true,
     "colors": [{"name": "Red", "hex": "#FF0000", "id": "c1", "isLocked": false,
                 "isAutoNamed": true, "extra": 1}]}
  ],
  "tolvanik_active_template": "t1",
  "tolvanik_last_modified": 1733650000123
})";

const std::string kSavedPush =
    R"({"activeTemplateId":"t1","lastModified":1733650000123.0,"templates":[)"
    R"({"colors":[{"hex":"#FF0000","id":"c1","isAutoNamed":true,"isLocked":false,"name":"Red"}],)"
    R"("id":"t1","isLocked":true,"name":"Sunset"}],"type":"colors"})";

// Long enough after the loop started (or after a write of the host's own)
// that a change counts as someone else's, and short enough that it does not.
// The margins are wide so that a busy machine cannot fail a correct host.
constexpr auto kWellAfterQuietSecond = std::chrono::milliseconds(1600);
// How long a change that gives no push is given to show one anyway.
constexpr auto kPushWindow = std::chrono::seconds(1);

class PushTest : public HostTest {
 protected:
  // Starts a host that sees the desktop application running, and waits
  // until its loop answers.
  void start_loop() {
    set_running({"Tolvanik.exe"});
    write_storage_file(kFirstDocument);
    start();
    ASSERT_TRUE(send_frame(kPing));
    ASSERT_EQ(read_frame(), pong_payload());
  }

  // The desktop application's way of saving: a new file renamed over the old.
  void save_by_rename(const std::string& text) {
    write_storage_file(text, "storage.json.new");
    fs::rename(storage_sibling("new"), storage_file());
  }

  // A save that truncates and rewrites the file in place.
  void save_in_place(const std::string& text) { write_storage_file(text); }

  // Nothing is pushed: a ping sent after a while is answered by the very
  // next frame.
  void expect_no_push() {
    std::this_thread::sleep_for(kPushWindow);
    ASSERT_TRUE(send_frame(kPing));
    EXPECT_EQ(read_frame(), pong_payload());
  }

  void close_and_expect_clean_end() {
    close_input();
    EXPECT_EQ(wait_exit(), 0);
    EXPECT_EQ(host().unread_output(), "");
    EXPECT_EQ(stderr_text(), "");
  }
};
TOLVANIK_BLACKBOX_TARGETS(PushTest);

TEST_P(PushTest, RequestsAreAnsweredUntilTheInputClosesAndTheHostEndsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  ASSERT_TRUE(send_frame(R"({"type":"nonsense"})"));
  EXPECT_EQ(read_frame(), unknown_command_payload());
  ASSERT_TRUE(send_frame(kPing));
  EXPECT_EQ(read_frame(), pong_payload());
  close_input();
  // The worker threads never end by themselves (the watcher sleeps forever),
  // so a host that waited for them would never exit.
  EXPECT_EQ(wait_exit(std::chrono::seconds(10)), 0);
  EXPECT_EQ(host().unread_output(), "");
  EXPECT_EQ(stderr_text(), "");
}

TEST_P(PushTest, SaveByRenameIsPushed) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  std::this_thread::sleep_for(kWellAfterQuietSecond);
  save_by_rename(kSavedDocument);
  EXPECT_EQ(read_frame(), kSavedPush);
  // The temporary file's own records give nothing further.
  ASSERT_NO_FATAL_FAILURE(expect_no_push());
  close_and_expect_clean_end();
}

TEST_P(PushTest, SaveInPlaceIsPushed) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  std::this_thread::sleep_for(kWellAfterQuietSecond);
  save_in_place(kSavedDocument);
  // One save may be seen as several modifications, the first perhaps while
  // the file is still being written: every one of them gets its own push,
  // and the last one shows the saved content.
  std::optional<std::string> push;
  do {
    push = read_frame();
    ASSERT_TRUE(push);
    ASSERT_TRUE(push->ends_with(R"(,"type":"colors"})")) << *push;
  } while (*push != kSavedPush);
  close_input();
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(stderr_text(), "");
}

TEST_P(PushTest, SavesWithinTheFirstSecondAreNotPushed) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  save_by_rename(kSavedDocument);
  ASSERT_NO_FATAL_FAILURE(expect_no_push());
  close_and_expect_clean_end();
}

TEST_P(PushTest, SavesRightAfterTheHostsOwnWritesAreNotPushed) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  for (const std::string request :
       {R"({"type":"setColors","templates":[],"activeTemplateId":"","lastModified":0})",
        R"({"type":"syncRequest","templates":[],"activeTemplateId":"","lastModified":0})"}) {
    SCOPED_TRACE(request);
    std::this_thread::sleep_for(kWellAfterQuietSecond);
    ASSERT_TRUE(send_frame(request));
    ASSERT_TRUE(read_frame());
    save_by_rename(kSavedDocument);
    ASSERT_NO_FATAL_FAILURE(expect_no_push());
  }
  close_and_expect_clean_end();
}

TEST_P(PushTest, GetStatusLeavesNoQuietSecond) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  std::this_thread::sleep_for(kWellAfterQuietSecond);
  ASSERT_TRUE(send_frame(R"({"type":"getStatus"})"));
  ASSERT_TRUE(read_frame());
  save_by_rename(kSavedDocument);
  EXPECT_EQ(read_frame(), kSavedPush);
  close_input();
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(stderr_text(), "");
}

TEST_P(PushTest, OtherFilesAndRemovalAreNotPushed) {
  ASSERT_NO_FATAL_FAILURE(start_loop());
  std::this_thread::sleep_for(kWellAfterQuietSecond);
  for (const std::string name :
       {"storage.json.bak", "storage.json.tmp", "storage.json.lock", "settings.json"}) {
    write_storage_file(kSavedDocument, name);
  }
  fs::rename(storage_dir() / "settings.json", storage_dir() / "settings.json.old");
  fs::create_directory(storage_dir() / "sub");
  std::ofstream(storage_dir() / "sub" / "storage.json") << kSavedDocument;
  ASSERT_NO_FATAL_FAILURE(expect_no_push());

  fs::remove(storage_file());
  ASSERT_NO_FATAL_FAILURE(expect_no_push());
  close_and_expect_clean_end();
}

TEST_P(PushTest, ABurstOfRequestsIsAnsweredInArrivalOrder) {
  set_running({"Tolvanik.exe"});
  write_storage_file(kFirstDocument);
  const std::string status =
      R"({"activeTemplateId":"","isRunning":true,"lastModified":1.0,"templates":[],)"
      R"("type":"status"})";
  std::string input;
  std::string expected;
  // Several times more replies than the host collects for one write, with
  // requests that read storage between them.
  for (int i = 0; i < 3000; ++i) {
    const bool storage_read = i % 700 == 350;
    input += frame(storage_read ? R"({"type":"getStatus"})"
                   : i % 3 == 0 ? R"({"type":"nonsense"})"
                                : kPing);
    expected += frame(storage_read ? status
                      : i % 3 == 0 ? unknown_command_payload()
                                   : pong_payload());
  }
  // All written and closed while the host is still starting, so that it
  // takes many frames, and the end of its input, in one read.
  const HostRun run = run_host(input);
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
}

TEST_P(PushTest, FrameOfLengthZeroEndsTheHostSilently) {
  set_running({"Tolvanik.exe"});
  const HostRun run = run_host(frame(kPing) + length_prefix(0) + frame(kPing));
  EXPECT_EQ(run.output, frame(pong_payload()));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
}

}  // namespace
}  // namespace tolvanik::blackbox
