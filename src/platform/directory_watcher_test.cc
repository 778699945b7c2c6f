#include "platform/directory_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "support/scratch_directory.h"

namespace tolvanik::platform {
namespace {

using testing::path_of;
using testing::ScratchDirectory;

constexpr auto kPatience = std::chrono::seconds(10);

// What the watch has reported so far; shared with the watching thread, which
// outlives the test: removing the watched directory ends the watch on some
// systems only (not under Wine), and nothing else can end it from outside.
struct WatchLog {
  std::mutex mutex;
  std::condition_variable updated;
  std::vector<DirectoryChange> changes;
};

bool is_change(const DirectoryChange& change, ChangeKind kind, RenameSide rename,
               const std::string& path) {
  return change.kind == kind && change.rename == rename && change.paths.size() == 1 &&
         change.paths[0] == path;
}

class DirectoryWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::thread([log = log_, path = directory_.path()] {
      watch_directory(path, [&log](const DirectoryChange& change) {
        const std::lock_guard lock(log->mutex);
        log->changes.push_back(change);
        log->updated.notify_all();
      });
    }).detach();
    // The watch starts at some point after the thread does; touch a file
    // until the watch reports it.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = "ready-" + std::to_string(attempt);
      directory_.put(name, "");
      if (wait_for(ChangeKind::kCreate, RenameSide::kNone, name, std::chrono::milliseconds(100))) {
        return;
      }
    }
    FAIL() << "the watch never reported anything";
  }

  bool wait_for(ChangeKind kind, RenameSide rename, const std::string& name,
                std::chrono::milliseconds patience = kPatience) {
    const std::string path = directory_.file(name);
    std::unique_lock lock(log_->mutex);
    return log_->updated.wait_for(lock, patience, [&] {
      for (const auto& change : log_->changes) {
        if (is_change(change, kind, rename, path)) return true;
      }
      return false;
    });
  }

  std::vector<DirectoryChange> changes() {
    const std::lock_guard lock(log_->mutex);
    return log_->changes;
  }

  ScratchDirectory directory_;
  std::shared_ptr<WatchLog> log_ = std::make_shared<WatchLog>();
};

TEST_F(DirectoryWatchTest, ReportsCreateModifyRenameAndRemove) {
  directory_.put("storage.json", "created");
  EXPECT_TRUE(wait_for(ChangeKind::kCreate, RenameSide::kNone, "storage.json"));

  {
    std::ofstream rewrite(path_of(directory_.file("storage.json")),
                          std::ios::binary | std::ios::app);
    rewrite << " and changed";
  }
  EXPECT_TRUE(wait_for(ChangeKind::kModify, RenameSide::kNone, "storage.json"));

  directory_.put("storage.json.tmp", "replacement");
  ASSERT_TRUE(replace_file(directory_.file("storage.json.tmp"), directory_.file("storage.json")));
  EXPECT_TRUE(wait_for(ChangeKind::kModify, RenameSide::kNewName, "storage.json"));

  ASSERT_TRUE(replace_file(directory_.file("storage.json"), directory_.file("moved.json")));
  EXPECT_TRUE(wait_for(ChangeKind::kModify, RenameSide::kOldName, "storage.json"));

  std::filesystem::remove(path_of(directory_.file("moved.json")));
  EXPECT_TRUE(wait_for(ChangeKind::kRemove, RenameSide::kNone, "moved.json"));
}

TEST_F(DirectoryWatchTest, DoesNotSeeIntoSubdirectories) {
  std::filesystem::create_directory(path_of(directory_.file("nested")));
  directory_.put("nested/storage.json", "hidden");
  // Changes arrive in order, so once the marker is seen, anything from
  // the subdirectory would have been seen too.
  directory_.put("marker", "");
  ASSERT_TRUE(wait_for(ChangeKind::kCreate, RenameSide::kNone, "marker"));
  const std::string nested_file = directory_.file("nested") + kPathSeparator + "storage.json";
  for (const auto& change : changes()) {
    for (const auto& path : change.paths) EXPECT_NE(path, nested_file);
  }
}

TEST(DirectoryWatch, EndsAtOnceForAMissingDirectory) {
  const ScratchDirectory directory;
  const std::string reason =
      watch_directory(directory.file("missing"), [](const DirectoryChange&) { FAIL(); });
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace tolvanik::platform
