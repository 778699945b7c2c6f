#include "bin/tolvanik_register/storage_health.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/scratch_directory.h"

namespace tolvanik::registration {
namespace {

using tolvanik::testing::ScratchDirectory;

TEST(StatusSize, WarnsFromNinetyPercentAndSaysHowManyTemplatesMustGoAboveTheLimit) {
  EXPECT_EQ(judge_status_size(943'000, 2'000).text,
            "the status reply is 943,000 bytes, 89 % of the browsers' 1,048,576-byte limit");
  const auto near = judge_status_size(1'000'000, 2'000);
  EXPECT_EQ(near.level, SizeLevel::kNear);
  EXPECT_EQ(near.text,
            "the status reply is 1,000,000 bytes, 95 % of the browsers' 1,048,576-byte limit: "
            "delete templates on the desktop before it is reached");
  const auto over = judge_status_size(1'085'084, 2'400);
  EXPECT_EQ(over.level, SizeLevel::kOver);
  EXPECT_EQ(over.text,
            "the status reply is 1,085,084 bytes, over the browsers' 1,048,576-byte limit: the "
            "extension gets no answer; delete about 81 templates on the desktop");
  EXPECT_EQ(judge_status_size(1'048'576, 1).level, SizeLevel::kNear);
  EXPECT_EQ(judge_status_size(943'719, 1).level, SizeLevel::kNear);
}

TEST(ExamineStorage, ReadsWhatTheHostWouldUseAndLeavesEveryFileAsItWas) {
  const ScratchDirectory folder;
  const std::string backup =
      R"({"tolvanik_templates":[{"id":"a","deleted":true},{"id":"b"},{"id":"c","deleted":1}]})";
  folder.put("storage.json", "[not an object");
  folder.put("storage.json.bak", backup);
  folder.put("storage.json.tmp", "half");
  int asked = 0;
  const StatusAsker host = [&]() -> std::optional<std::string> {
    ++asked;
    return R"({"isRunning":false,"templates":[{}],"type":"status"})";
  };
  const auto findings = examine_storage(folder.file("storage.json"), host);
  EXPECT_EQ(findings.file, FileState::kNotAnObject);
  EXPECT_EQ(findings.bytes, 14u);
  EXPECT_TRUE(findings.reads_backup);
  EXPECT_EQ(findings.templates, 3u);
  EXPECT_EQ(findings.hidden, 1u);
  EXPECT_TRUE(findings.leftover_temporary);
  EXPECT_EQ(findings.lock, LockState::kFree);
  // Asked, the host would put the backup in place: the reply is reckoned.
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(findings.status_source, StatusSource::kOwnRead);
  EXPECT_EQ(findings.shown, 2u);
  EXPECT_GT(findings.status_bytes.value_or(0), 0u);
  ASSERT_EQ(findings.problems.size(), 1u);
  EXPECT_EQ(findings.problems[0],
            "the file does NOT parse as a JSON object: the host reads the backup storage.json.bak "
            "instead and puts it back in its place");
  // Nothing written, nothing made: not even the lock file.
  EXPECT_EQ(folder.get("storage.json"), "[not an object");
  EXPECT_EQ(folder.get("storage.json.bak"), backup);
  EXPECT_EQ(folder.get("storage.json.tmp"), "half");
  EXPECT_FALSE(platform::file_exists(folder.file("storage.json.lock")));

  folder.put("storage.json", backup);
  const auto healthy = examine_storage(folder.file("storage.json"), host);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(healthy.status_source, StatusSource::kHost);
  EXPECT_EQ(healthy.shown, 1u);
}

TEST(ExamineStorage, AHeldLockIsToldAfterTwoSecondsAndTheHostIsNotAsked) {
  const ScratchDirectory folder;
  folder.put("storage.json", R"({"tolvanik_templates":[]})");
  const auto lock = platform::open_lock_file(folder.file("storage.json.lock"));
  ASSERT_TRUE(lock && platform::lock_whole_file(*lock));
  const auto started = std::chrono::steady_clock::now();
  const auto findings = examine_storage(folder.file("storage.json"), [] {
    ADD_FAILURE() << "the host was asked while the lock was held";
    return std::optional<std::string>();
  });
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, kLockPatience);
  EXPECT_LT(waited, kLockPatience + 3s);
  EXPECT_EQ(findings.lock, LockState::kHeld);
  EXPECT_FALSE(findings.ok());
  EXPECT_EQ(findings.file, FileState::kObject);
}

}  // namespace
}  // namespace tolvanik::registration
