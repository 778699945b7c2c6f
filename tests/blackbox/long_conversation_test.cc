// One long running conversation: a hundred thousand mixed requests with the
// desktop application's saves pushed in between, every reply checked, and
// the host's memory at the end compared with its memory early on.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

namespace fs = std::filesystem;

// A sanitized host gets enough for the sanitizers to see every path many
// times over; each request costs them many times what it costs the plain
// host.
int request_count() { return native_host_is_sanitized() ? 10000 : 100000; }
constexpr int kBatch = 100;
constexpr int kPushes = 5;

// A value from /proc/<pid>/status in kB, e.g. "VmHWM".
std::optional<long> status_kb(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
  }
  return std::nullopt;
}

std::string set_colors(int n) {
  const std::string id = std::to_string(n);
  return R"({"type":"setColors","activeTemplateId":"a)" + id + R"(","lastModified":)" +
         std::to_string(1800000000000 + n) + R"(,"templates":[)" + R"({"id":"a)" + id +
         R"(","name":"First","colors":[{"id":"c","name":"Red","hex":"#ff0000"}]},)" +
         R"({"id":"b","name":"Second","colors":[]},{"id":"c","name":"Third","colors":[]}]})";
}

std::string sync_request(int n) {
  const std::string id = std::to_string(n);
  return R"({"type":"syncRequest","activeTemplateId":"a)" + id + R"(","lastModified":)" +
         std::to_string(1800000000000 + n) + R"(.0,"templates":[{"id":"a)" + id +
         R"(","name":"Synced","colors":[]}]})";
}

class LongConversationTest : public HostTest {
 protected:
  // The storage lies on a memory file system where there is one, so that
  // the durable writes of tens of thousands of updates take no disk time.
  void SetUp() override {
    HostTest::SetUp();
    const fs::path shm = "/dev/shm";
    appdata_ = (fs::exists(shm) ? shm : work_dir()) / work_dir().filename();
    fs::create_directories(appdata_ / "io.tolvanik.desktop");
    set_env("APPDATA", appdata_.string());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(appdata_, ignored);
    HostTest::TearDown();
  }

  void desktop_save(const std::string& active_id) {
    const fs::path directory = appdata_ / "io.tolvanik.desktop";
    std::ofstream(directory / "storage.json.new")
        << R"({"tolvanik_templates":[{"id":")" << active_id
        << R"(","name":"Desktop","colors":[]}],"tolvanik_active_template":")" << active_id
        << R"(","tolvanik_last_modified":1700000000000.0})";
    fs::rename(directory / "storage.json.new", directory / "storage.json");
  }

  fs::path appdata_;
};
INSTANTIATE_TEST_SUITE_P(Native, LongConversationTest, testing::Values(Target::native),
                         target_name);

TEST_P(LongConversationTest, EveryReplyIsRightAndMemoryStaysFlat) {
  const int requests = request_count();
  const int early_mark = requests / 10;
  // The first push comes before the early mark, so that every kind of event
  // has been handled when the early peak is taken: later growth can then
  // only be a leak.
  const int first_push = early_mark / 2;
  set_running({"Tolvanik.exe"});
  ChildProcess& child = start();
  std::string active_id;
  long early_peak = 0;
  int pushes = 0;
  int repeated_pushes = 0;
  for (int first = 0; first < requests; first += kBatch) {
    if (first % (requests / kPushes) == first_push) {
      // A save counts only once a second has passed since the host's last write.
      std::this_thread::sleep_for(1200ms);
      active_id = "desktop-" + std::to_string(pushes);
      desktop_save(active_id);
      const auto push = child.read_frame();
      ASSERT_TRUE(push && push->find(R"("activeTemplateId":")" + active_id + '"') == 1)
          << push.value_or("no push");
      ++pushes;
      // The save's later change events may bring the same push again.
      std::this_thread::sleep_for(200ms);
    }
    std::string input;
    std::vector<std::string> expected;
    for (int n = first; n < first + kBatch; ++n) {
      switch (n % 10) {
        case 0:
        case 5:
          input += frame(set_colors(n));
          expected.push_back(R"({"success":true,"type":"setColorsResult"})");
          active_id = "a" + std::to_string(n);
          break;
        case 3:
          input += frame(sync_request(n));
          expected.push_back(R"({"lastModified":)" + std::to_string(1800000000000 + n) +
                             R"(.0,"type":"syncResponse","winner":"chrome"})");
          active_id = "a" + std::to_string(n);
          break;
        case 1:
        case 7:
          input += frame(R"({"type":"getStatus"})");
          expected.push_back(R"({"activeTemplateId":")" + active_id + '"');
          break;
        case 4:
        case 8:
          input += frame(R"({"type":"refresh"})");
          expected.push_back(unknown_command_payload());
          break;
        default:
          input += frame(R"({"type":"ping"})");
          expected.push_back(pong_payload());
      }
    }
    ASSERT_TRUE(child.write_input(input));
    for (int n = first; n < first + kBatch; ++n) {
      auto reply = child.read_frame();
      while (reply && reply->find(R"("type":"colors")") != std::string::npos) {
        ++repeated_pushes;
        reply = child.read_frame();
      }
      ASSERT_TRUE(reply) << "request " << n;
      const std::string& want = expected[static_cast<std::size_t>(n - first)];
      ASSERT_TRUE(*reply == want ||
                  (reply->starts_with(want) && reply->ends_with(R"("type":"status"})")))
          << "request " << n << ": " << *reply;
    }
    if (first + kBatch == early_mark) early_peak = status_kb(child.pid(), "VmHWM").value_or(0);
  }
  const long late_peak = status_kb(child.pid(), "VmHWM").value_or(0);
  const long late_resident = status_kb(child.pid(), "VmRSS").value_or(0);
  close_input();
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(stderr_text(), "");
  EXPECT_EQ(pushes, kPushes);
  std::printf("pushes: %d, repeated: %d\n", pushes, repeated_pushes);
  std::printf("peak resident memory: %ld kB after %d requests, %ld kB after %d (resident %ld kB)\n",
              early_peak, early_mark, late_peak, requests, late_resident);
  // The sanitizers hold on to freed memory for a while, by design.
  if (native_host_is_sanitized()) return;
  ASSERT_GT(early_peak, 0);
  EXPECT_LE(late_peak * 10, early_peak * 11);
}

}  // namespace
}  // namespace tolvanik::blackbox
