// The storage file under pressure: another process writing it under the
// same lock, and the host killed in the middle of its updates.

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "harness.h"
#include "messaging/json.h"
#include "support/json_text.h"

namespace tolvanik::blackbox {
namespace {

// A "setColors" whose templates take roughly 2.4 kB each, like real ones.
std::string set_colors_request(const std::string& active_id, int template_count) {
  std::string request =
      R"({"activeTemplateId":")" + active_id + R"(","lastModified":1733600000000.0,"templates":[)";
  for (int t = 0; t < template_count; ++t) {
    if (t > 0) request += ',';
    request += R"({"colors":[)";
    for (int c = 0; c < 12; ++c) {
      if (c > 0) request += ',';
      request += R"({"hex":"#a1b2c)" + std::to_string(c % 10) + R"(","id":"c)" + std::to_string(c) +
                 R"(","isAutoNamed":)" + (c % 2 == 0 ? "true" : "false") +
                 R"(,"isLocked":false,"name":"Colour number )" + std::to_string(c) +
                 R"( of a template"})";
    }
    request += R"(],"id":"template-)" + std::to_string(t) + R"(","isLocked":false,)" +
               R"("name":"Template )" + std::to_string(t) + R"("})";
  }
  return request + R"(],"type":"setColors"})";
}

// The next frame that is not an unsolicited "colors" push.
std::optional<std::string> next_reply(ChildProcess& host) {
  while (auto frame = host.read_frame()) {
    if (frame->find(R"("type":"colors")") == std::string::npos) return frame;
  }
  return std::nullopt;
}

class StorageConcurrencyTest : public HostTest {};
TOLVANIK_BLACKBOX_TARGETS(StorageConcurrencyTest);

// The desktop application's increments and the host's template writes
// interleave under the storage lock; neither side may lose the other's.
TEST_P(StorageConcurrencyTest, NoUpdateOfEitherSideIsLost) {
  constexpr int kRounds = 300;
  set_running({"Tolvanik.exe"});
  create_storage_dir();
  start();
  auto desktop =
      start_fixture("desktop_writer", {target_path(storage_file()), std::to_string(kRounds), "3"});
  ASSERT_TRUE(desktop);
  const std::string request =
      R"({"type":"setColors","activeTemplateId":"x","templates":[{"id":"x","name":"X"}]})";
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(send_frame(request));
    ASSERT_EQ(next_reply(host()), R"({"success":true,"type":"setColorsResult"})");
  }
  EXPECT_EQ(desktop->read_line(), "done") << desktop->stderr_text();
  EXPECT_EQ(desktop->wait_exit(), 0);
  close_input();
  EXPECT_EQ(wait_exit(), 0);

  const auto document = parse_json(read_storage_file().value_or(""));
  ASSERT_TRUE(document);
  EXPECT_EQ(testing::text_at(document->root(), "desktop_counter"), std::to_string(kRounds));
  EXPECT_EQ(testing::text_at(document->root(), "tolvanik_templates/0/revision"),
            std::to_string(kRounds))
      << "every write of the template found the one before it";
}

class CrashSafetyTest : public HostTest {};
INSTANTIATE_TEST_SUITE_P(Native, CrashSafetyTest, ::testing::Values(Target::native), target_name);

// Killed at any moment, the host leaves either the old document or the
// whole new one, never a torn file.
TEST_P(CrashSafetyTest, KilledUpdatesLeaveTheOldOrTheNewDocument) {
  constexpr int kKills = 1000;
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> template_count(0, 400);
  std::uniform_int_distribution<int> delay_us(0, 30000);
  create_storage_dir();
  remove_tasklist();
  int interrupted_before = 0;
  int landed_after = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const std::string before = read_storage_file().value_or("");
    const std::string active_id = "round-" + std::to_string(kill);
    const int count = template_count(random);
    ChildProcess& child = start();
    child.write_input(frame(set_colors_request(active_id, count)));
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    child.kill();

    const std::string after = read_storage_file().value_or("");
    if (after == before) {
      ++interrupted_before;
      continue;
    }
    const auto document = parse_json(after);
    ASSERT_TRUE(document && document->root().is_object())
        << "torn storage file after kill " << kill;
    ASSERT_EQ(testing::text_at(document->root(), "tolvanik_active_template"),
              "\"" + active_id + "\"")
        << "kill " << kill;
    const JsonValue* templates = document->root().find("tolvanik_templates");
    ASSERT_TRUE(templates && templates->is_array());
    ASSERT_EQ(templates->elements().size(), static_cast<std::size_t>(count));
    ++landed_after;
  }
  std::printf("kills: %d, old document kept: %d, new document whole: %d\n", kKills,
              interrupted_before, landed_after);
}

}  // namespace
}  // namespace tolvanik::blackbox
