#include "platform/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/scratch_directory.h"

namespace tolvanik::platform {
namespace {

using testing::path_of;
using testing::ScratchDirectory;

TEST(LockFile, IsCreatedEmptyAndAnExistingOneKeepsItsContent) {
  const ScratchDirectory directory;
  {
    const auto created = open_lock_file(directory.file("a.lock"));
    ASSERT_TRUE(created) << created.error();
    ASSERT_TRUE(lock_whole_file(*created));
    unlock_whole_file(*created);
  }
  EXPECT_TRUE(file_exists(directory.file("a.lock")));
  EXPECT_EQ(directory.get("a.lock"), "");

  directory.put("b.lock", "held by someone else");
  {
    const auto opened = open_lock_file(directory.file("b.lock"));
    ASSERT_TRUE(opened) << opened.error();
    ASSERT_TRUE(lock_whole_file(*opened));
  }
  EXPECT_EQ(directory.get("b.lock"), "held by someone else");
}

TEST(LockFile, CannotBeOpenedInAMissingDirectory) {
  const ScratchDirectory directory;
  const std::string missing = directory.file("missing");
  const auto opened = open_lock_file(missing + kPathSeparator + "a.lock");
  ASSERT_FALSE(opened);
  EXPECT_FALSE(opened.error().empty());
  EXPECT_FALSE(file_exists(missing));
}

TEST(LockFile, ExcludesASecondHandleUntilUnlocked) {
  const ScratchDirectory directory;
  const std::string path = directory.file("storage.json.lock");
  const auto first = open_lock_file(path);
  ASSERT_TRUE(first) << first.error();
  ASSERT_TRUE(lock_whole_file(*first));

  std::atomic<bool> second_locked = false;
  std::thread contender([&] {
    const auto second = open_lock_file(path);
    if (second && lock_whole_file(*second)) {
      second_locked = true;
      unlock_whole_file(*second);
    }
  });
  // Cannot prove a wait, only fail to see the lock taken early.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(second_locked);
  unlock_whole_file(*first);
  contender.join();
  EXPECT_TRUE(second_locked);
}

TEST(ReadWholeFile, GivesTheExactBytesAndFailsForAMissingFile) {
  const ScratchDirectory directory;
  const std::string bytes("line\r\nnext\n\0\xff", 13);
  directory.put("data", bytes);
  const auto read = read_whole_file(directory.file("data"));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(*read, bytes);

  const auto missing_read = read_whole_file(directory.file("missing"));
  ASSERT_FALSE(missing_read);
  EXPECT_FALSE(missing_read.error().empty());
  EXPECT_FALSE(file_exists(directory.file("missing")));
  EXPECT_TRUE(file_exists(directory.file("data")));
}

TEST(ReadWholeFile, ReadsAFileLargerThanOneChunk) {
  const ScratchDirectory directory;
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  directory.put("large", bytes);
  const auto read = read_whole_file(directory.file("large"));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(*read, bytes);
}

TEST(CopyFileDurably, OverwritesTheTarget) {
  const ScratchDirectory directory;
  directory.put("from", "new");
  directory.put("to", "old and longer");
  ASSERT_TRUE(copy_file_durably(directory.file("from"), directory.file("to")));
  EXPECT_EQ(directory.get("to"), "new");
  EXPECT_EQ(directory.get("from"), "new");
  EXPECT_FALSE(copy_file_durably(directory.file("missing"), directory.file("to")));
  EXPECT_EQ(directory.get("to"), "new");
}

TEST(WriteDurableFile, CreatesOrTruncates) {
  const ScratchDirectory directory;
  ASSERT_TRUE(write_durable_file(directory.file("tmp"), "first"));
  EXPECT_EQ(directory.get("tmp"), "first");
  directory.put("tmp", "a leftover much longer than the new text");
  ASSERT_TRUE(write_durable_file(directory.file("tmp"), "short"));
  EXPECT_EQ(directory.get("tmp"), "short");
  EXPECT_FALSE(write_durable_file(directory.file("missing") + kPathSeparator + "tmp", "x"));
}

TEST(DurableFile, TruncatesAppendsAndMovesOverTheTarget) {
  const ScratchDirectory directory;
  directory.put("storage.json.tmp", "a leftover much longer than the new text");
  directory.put("storage.json", "old");
  auto file = DurableFile::create(directory.file("storage.json.tmp"));
  ASSERT_TRUE(file) << file.error();
  ASSERT_TRUE(file->append("first "));
  ASSERT_TRUE(file->append(""));
  ASSERT_TRUE(file->append("second"));
  ASSERT_TRUE(file->flush_and_close());
  EXPECT_EQ(directory.get("storage.json"), "old") << "nothing moves before the rename";
  ASSERT_TRUE(file->rename_over(directory.file("storage.json")));
  EXPECT_EQ(directory.get("storage.json"), "first second");
  EXPECT_FALSE(file_exists(directory.file("storage.json.tmp")));

  const auto missing = DurableFile::create(directory.file("missing") + kPathSeparator + "tmp");
  ASSERT_FALSE(missing);
  EXPECT_FALSE(missing.error().empty());
}

TEST(ReplaceFile, MovesOverAnExistingTarget) {
  const ScratchDirectory directory;
  directory.put("storage.json.tmp", "new");
  directory.put("storage.json", "old");
  ASSERT_TRUE(replace_file(directory.file("storage.json.tmp"), directory.file("storage.json")));
  EXPECT_EQ(directory.get("storage.json"), "new");
  EXPECT_FALSE(file_exists(directory.file("storage.json.tmp")));

  const auto missing =
      replace_file(directory.file("storage.json.tmp"), directory.file("storage.json"));
  ASSERT_FALSE(missing);
  EXPECT_FALSE(missing.error().empty());
  EXPECT_EQ(directory.get("storage.json"), "new");
}

}  // namespace
}  // namespace tolvanik::platform
