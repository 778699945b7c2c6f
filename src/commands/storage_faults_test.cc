// Every file operation of a storage request, made to fail one at a time:
// the files stay whole, the lock is let go, nothing reaches standard error
// and the reply tells the truth about what was written. The same where the
// file system cannot copy between files inside the kernel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "commands/handlers.h"
#include "platform/file_faults.h"
#include "storage/storage_file.h"
#include "support/json_text.h"
#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using namespace std::chrono_literals;
using testing::json;
using testing::ScratchDirectory;

constexpr std::string_view kStorage = R"({
  "desktop_only": {"kept": true},
  "tolvanik_active_template": "t1",
  "tolvanik_last_modified": 1700000000000.0,
  "tolvanik_templates": [
    {"id": "t1", "name": "Current", "colors": [{"id": "c", "name": "Red", "hex": "#ff0000"}]}
  ]
})";
constexpr std::string_view kBackup = R"({
  "desktop_only": {"kept": true},
  "tolvanik_active_template": "t0",
  "tolvanik_last_modified": 1600000000000.0,
  "tolvanik_templates": [{"id": "t0", "name": "Older", "colors": []}]
})";
constexpr std::string_view kEmptyStatus =
    R"({"activeTemplateId":"","isRunning":false,"lastModified":0.0,"templates":[],"type":"status"})";
constexpr std::string_view kIncoming =
    R"("activeTemplateId":"n1","templates":[{"id":"n1","name":"New","colors":[]}])";

JsonDocument set_colors_message() {
  return json(std::string("{") + R"("type":"setColors",)" + std::string(kIncoming) + "}");
}

// True when the storage lock can be had. A lock never let go keeps the
// attempt waiting for good; its thread is then left behind.
bool storage_lock_is_free(const std::string& storage_path) {
  auto taken = std::make_shared<std::promise<bool>>();
  auto result = taken->get_future();
  std::thread([taken, storage_path] {
    taken->set_value(lock_storage(storage_path).has_value());
  }).detach();
  return result.wait_for(20s) == std::future_status::ready && result.get();
}

class StorageFaultTest : public ::testing::Test {
 protected:
  struct Outcome {
    std::string reply;
    bool committed = false;
  };

  void TearDown() override {
    platform::fail_file_operation(0);
    platform::refuse_kernel_copy(0);
  }

  std::string storage() const { return dir.file("storage.json"); }

  // Runs `request` once for every file operation it makes, failing that
  // one, and checks what every run leaves behind, and that the facts for
  // the log show every failure that the outcome alone does not. Yields the number of
  // operations the request makes without faults.
  int walk(const std::function<CommandAnswer()>& request,
           const std::function<void(const Outcome&, int)>& check_reply) {
    put_files();
    const std::string_view clean_outcome = request().outcome;
    for (int n = 1;; ++n) {
      put_files();
      ::testing::internal::CaptureStderr();
      platform::fail_file_operation(n);
      const CommandAnswer answer = request();
      const std::string reply = to_compact_json(answer.reply.root());
      const int seen = platform::file_operations_seen();
      platform::fail_file_operation(0);
      if (seen < n) {
        EXPECT_FALSE(anything_met(answer)) << "nothing failed";
      } else if (answer.outcome == clean_outcome) {
        EXPECT_TRUE(anything_met(answer)) << "operation " << n << " failed unnoticed";
      }
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "operation " << n;

      const std::string stored = dir.get("storage.json");
      const std::string backup = dir.get("storage.json.bak");
      EXPECT_TRUE(parse_json(stored)) << "operation " << n;
      EXPECT_TRUE(stored == kStorage || stored.find(R"("n1")") != std::string::npos)
          << "operation " << n << ":\n"
          << stored;
      EXPECT_NE(stored.find("desktop_only"), std::string::npos) << "operation " << n;
      EXPECT_TRUE(backup == kBackup || backup == kStorage) << "operation " << n << ":\n" << backup;
      EXPECT_TRUE(storage_lock_is_free(storage())) << "operation " << n;
      check_reply({reply, stored != kStorage}, n);
      if (seen < n) return n - 1;
    }
  }

  // The setColors request through walk, its reply telling whether it wrote.
  int walk_set_colors() {
    const JsonDocument message = set_colors_message();
    return walk([&] { return handle_set_colors(storage(), message); },
                [](const Outcome& outcome, int n) {
                  EXPECT_EQ(outcome.reply, outcome.committed
                                               ? R"({"success":true,"type":"setColorsResult"})"
                                               : R"({"success":false,"type":"setColorsResult"})")
                      << "operation " << n;
                });
  }

  static bool anything_met(const CommandAnswer& answer) {
    return std::ranges::any_of(answer.storage_met, [](const StorageFacts& met) {
      return met.backup_loaded || met.update_refused || !met.failures.empty();
    });
  }

  void put_files() const {
    dir.put("storage.json", kStorage);
    dir.put("storage.json.bak", kBackup);
  }

  ScratchDirectory dir;
};

TEST_F(StorageFaultTest, SetColors) {
  std::printf("setColors: %d file operations, each made to fail\n", walk_set_colors());
}

// The backup is then copied through a buffer, 64 KiB at a time.
TEST_F(StorageFaultTest, SetColorsWhereTheKernelCannotCopyFiles) {
  // Several pieces of the copy and the end of one, laid out as no writer of
  // the host would lay it out.
  std::string stored = "{\r\n\"desktop_only\" :\t[";
  for (int i = 0; i < 30000; ++i) stored += (i ? ",\r\n " : "") + std::to_string(i * 7919);
  stored += "],\"name\":\"\\u00e9 \xc3\xa9\"}";
  const JsonDocument message = set_colors_message();
  const auto operations_of_set_colors = [&] {
    dir.put("storage.json", stored);
    dir.put("storage.json.bak", kBackup);
    platform::fail_file_operation(0);
    EXPECT_EQ(to_compact_json(handle_set_colors(storage(), message).reply.root()),
              R"({"success":true,"type":"setColorsResult"})");
    return platform::file_operations_seen();
  };
  const int copied_in_kernel = operations_of_set_colors();
  for (const int error : {EXDEV, EOPNOTSUPP}) {
    platform::refuse_kernel_copy(error);
    const int copied_through_buffer = operations_of_set_colors();
    EXPECT_GE(copied_through_buffer,
              copied_in_kernel + 2 * static_cast<int>(stored.size() / (64 * 1024)))
        << "a read and a write for each piece";
    EXPECT_EQ(dir.get("storage.json.bak"), stored) << "error " << error;
    EXPECT_NE(dir.get("storage.json").find(R"("n1")"), std::string::npos) << "error " << error;
    std::printf("setColors, the kernel copy refused with error %d: %d file operations\n", error,
                walk_set_colors());
  }
}

TEST_F(StorageFaultTest, SyncRequestTheExtensionWins) {
  const JsonDocument message =
      json(std::string("{") + R"("type":"syncRequest",)" + R"("lastModified":1800000000000.0,)" +
           std::string(kIncoming) + "}");
  const int operations = walk(
      [&] { return handle_sync_request(storage(), message); },
      [](const Outcome& outcome, int n) {
        // Only which side won: the extension is not told whether the write
        // went in.
        EXPECT_EQ(outcome.reply,
                  R"({"lastModified":1800000000000.0,"type":"syncResponse","winner":"chrome"})")
            << "operation " << n;
      });
  std::printf("syncRequest (extension newer): %d file operations, each made to fail\n", operations);
}

// A desktop side that could not be read must not lose to an older
// extension side by default.
TEST_F(StorageFaultTest, SyncRequestTheDesktopWins) {
  const JsonDocument message =
      json(R"({"type":"syncRequest","lastModified":1.0,"templates":[],"activeTemplateId":""})");
  dir.put("storage.json", kStorage);
  const std::string full = to_compact_json(handle_sync_request(storage(), message).reply.root());
  ASSERT_NE(full.find(R"("winner":"mac")"), std::string::npos);
  const int operations =
      walk([&] { return handle_sync_request(storage(), message); },
           [&](const Outcome& outcome, int n) {
             EXPECT_FALSE(outcome.committed) << "operation " << n;
             EXPECT_TRUE(outcome.reply == full ||
                         outcome.reply ==
                             R"({"lastModified":1.0,"type":"syncResponse","winner":"chrome"})")
                 << "operation " << n << ": " << outcome.reply;
           });
  std::printf("syncRequest (desktop newer): %d file operations, each made to fail\n", operations);
}

TEST_F(StorageFaultTest, GetStatus) {
  dir.put("storage.json", kStorage);
  const std::string full = to_compact_json(handle_get_status(storage()).reply.root());
  ASSERT_NE(full, kEmptyStatus);
  const int operations = walk([&] { return handle_get_status(storage()); },
                              [&](const Outcome& outcome, int n) {
                                EXPECT_FALSE(outcome.committed) << "operation " << n;
                                EXPECT_TRUE(outcome.reply == full || outcome.reply == kEmptyStatus)
                                    << "operation " << n << ": " << outcome.reply;
                              });
  std::printf("getStatus: %d file operations, each made to fail\n", operations);
}

}  // namespace
}  // namespace tolvanik
