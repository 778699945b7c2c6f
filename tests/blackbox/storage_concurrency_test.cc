// The storage file under pressure: another process writing it under the
// same lock, and the host killed in the middle of its updates.

#include <algorithm>
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

// A "setColors" whose templates take roughly 1.3 kB each, like real ones;
// 2,000 of them stay inside the browser's frame limit.
std::string set_colors_request(const std::string& active_id, int template_count) {
  std::string templates;
  for (int t = 0; t < template_count; ++t) {
    std::string colors;
    for (int c = 0; c < 8; ++c) {
      if (c > 0) colors += ',';
      colors += R"({"id":"c)" + std::to_string(c) + R"(","name":"Colour number )" +
                std::to_string(c) + R"( of a template","hex":"#a1b2c)" + std::to_string(c) +
                R"(","isAutoNamed":)" + (c % 2 == 0 ? "true" : "false") + R"(,"isLocked":false})";
    }
    if (t > 0) templates += ',';
    templates += R"({"id":"template-)" + std::to_string(t) + R"(","name":"Template )" +
                 std::to_string(t) + R"(","isLocked":false,"colors":[)" + colors + "]}";
  }
  return R"({"type":"setColors","activeTemplateId":")" + active_id +
         R"(","lastModified":1733600000000.0,"templates":[)" + templates + "]}";
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

std::size_t occurrences(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

// The whole document one update of `template_count` templates writes.
bool is_whole_update(const std::string& text, const std::string& active_id, int template_count) {
  return parse_json(text) && text.find('"' + active_id + '"') != std::string::npos &&
         occurrences(text, R"("contentHash")") == static_cast<std::size_t>(template_count);
}

// Killed at any moment of an update, the host leaves the storage file and
// the backup each either as they were or whole and new: the backup refresh
// and the new document both go through the temporary file and a rename.
TEST_P(CrashSafetyTest, KilledUpdatesLeaveEachFileOldOrWhole) {
  constexpr int kKills = 1000;
  constexpr int kMostTemplates = 2000;
  std::mt19937 random(20261208);
  // Mostly small updates, as users make them, and some up to the largest.
  std::lognormal_distribution<double> spread(4.0, 1.6);
  write_storage_file(R"({"desktop_only": {"kept": true}, "tolvanik_templates": []})");
  remove_tasklist();

  // How long whole updates take here: a start-up cost, and a cost per
  // template read from the stored document and per template written. The
  // kills then fall anywhere from the start of the host to just past its end.
  const auto duration_of = [&](int count) {
    const auto started = std::chrono::steady_clock::now();
    const HostRun run = run_host(frame(set_colors_request("calibration", count)));
    EXPECT_EQ(run.status, 0);
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
        .count();
  };
  duration_of(1);
  const double start_up = duration_of(1);
  const double per_written = (duration_of(kMostTemplates) - start_up) / kMostTemplates;
  const double per_read = (duration_of(1) - start_up) / kMostTemplates;
  int stored_count = 1;
  const auto reach_for = [&](int count) {
    return 1.1 * (start_up + per_read * stored_count + per_written * count);
  };

  int storage_kept = 0;
  int storage_replaced = 0;
  int backup_kept = 0;
  int backup_refreshed = 0;
  std::string storage_before = read_storage_file().value_or("");
  std::string backup_before = read_storage_file("storage.json.bak").value_or("");
  for (int kill = 0; kill < kKills; ++kill) {
    const std::string active_id = "round-" + std::to_string(kill);
    const int count = std::clamp(static_cast<int>(spread(random)), 1, kMostTemplates);
    const auto delay = std::uniform_real_distribution<double>(0, reach_for(count))(random);
    ChildProcess& child = start();
    child.write_input(frame(set_colors_request(active_id, count)));
    std::this_thread::sleep_for(std::chrono::duration<double, std::micro>(delay));
    child.kill();

    const std::string storage = read_storage_file().value_or("");
    const std::string backup = read_storage_file("storage.json.bak").value_or("");
    if (backup == backup_before) {
      ++backup_kept;
    } else {
      ASSERT_EQ(backup, storage_before) << "torn or foreign backup after kill " << kill;
      ++backup_refreshed;
    }
    if (storage == storage_before) {
      ++storage_kept;
    } else {
      ASSERT_TRUE(is_whole_update(storage, active_id, count))
          << "torn storage file after kill " << kill;
      ASSERT_EQ(backup, storage_before) << "new document without a backup of the old one";
      ++storage_replaced;
      stored_count = count;
    }
    storage_before = storage;
    backup_before = backup;
  }
  std::printf(
      "kills: %d; storage.json old: %d, new and whole: %d; storage.json.bak old: %d, "
      "refreshed and whole: %d\n",
      kKills, storage_kept, storage_replaced, backup_kept, backup_refreshed);
}

}  // namespace
}  // namespace tolvanik::blackbox
