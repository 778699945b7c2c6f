#include "storage/storage_file.h"

#include <gtest/gtest.h>

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "storage/snapshot.h"
#include "support/json_text.h"
#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using testing::json;
using testing::read_file;
using testing::ScratchDirectory;
using testing::write_file;

std::expected<void, std::string> commit_json(const std::string& storage_path,
                                             std::string_view text) {
  return commit_storage_document(storage_path, json(text).root()).written;
}

class StorageFileTest : public ::testing::Test {
 protected:
  std::string storage() const { return dir.file("storage.json"); }
  std::string backup() const { return dir.file("storage.json.bak"); }
  std::string temporary() const { return dir.file("storage.json.tmp"); }
  bool exists(const std::string& path) const { return std::filesystem::exists(path); }

  ScratchDirectory dir;
};

TEST_F(StorageFileTest, LockFailsWithoutCreatingAMissingDirectory) {
  const std::string missing = dir.file("absent/storage.json");
  const auto lock = lock_storage(missing);
  ASSERT_FALSE(lock);
  EXPECT_TRUE(lock.error().starts_with("Lock file open error: ")) << lock.error();
  EXPECT_FALSE(exists(dir.file("absent")));
  EXPECT_EQ(read_storage_snapshot(missing).facts.failures, std::vector{lock.error()})
      << "the snapshot's caller learns what the snapshot swallows";
}

TEST_F(StorageFileTest, ReadJsonObjectAcceptsOnlyObjectsWithMembers) {
  const std::string path = dir.file("f.json");
  const auto object_in = [&](const std::string& text) {
    write_file(path, text);
    return read_json_object(path).has_value();
  };
  EXPECT_TRUE(object_in(" {\"a\":1}\r\n"));
  EXPECT_FALSE(object_in("{}"));
  EXPECT_FALSE(object_in("[1]"));
  EXPECT_FALSE(object_in("\"text\""));
  EXPECT_FALSE(object_in("\xEF\xBB\xBF{\"a\":1}"));
  EXPECT_FALSE(object_in("{\"a\":\"\xFF\"}"));
  EXPECT_FALSE(object_in("{\"a\":1}x"));
  EXPECT_FALSE(object_in("{\"a\":" + std::string(127, '[') + std::string(127, ']') + "}"));
  EXPECT_TRUE(object_in("{\"a\":" + std::string(126, '[') + std::string(126, ']') + "}"));
  EXPECT_FALSE(read_json_object(dir.file("missing.json")));
  EXPECT_FALSE(object_in(std::string("{\"a\":1}\0", 8))) << "a trailing NUL byte is not JSON";
}

TEST_F(StorageFileTest, UnreadableStorageFileIsRestoredFromTheBackup) {
  write_file(storage(), "{}");
  write_file(backup(), "{\"from\": \"backup\"}");
  const LoadedStorage loaded = load_storage_document(storage());
  ASSERT_TRUE(loaded.document);
  EXPECT_TRUE(loaded.from_backup);
  EXPECT_EQ(loaded.restore_failure, std::nullopt);
  EXPECT_EQ(to_compact_json(loaded.document->root()), R"({"from":"backup"})");
  EXPECT_EQ(read_file(storage()), "{\"from\": \"backup\"}");
}

TEST_F(StorageFileTest, LoadTellsApartNothingFromContentItCannotRead) {
  EXPECT_FALSE(load_storage_document(storage()).storage_file_unreadable);
  write_file(storage(), "");
  EXPECT_FALSE(load_storage_document(storage()).storage_file_unreadable);
  write_file(storage(), "{}");
  EXPECT_FALSE(load_storage_document(storage()).storage_file_unreadable);
  write_file(storage(), "{\"truncated\": ");
  write_file(backup(), "[]");
  const LoadedStorage loaded = load_storage_document(storage());
  EXPECT_FALSE(loaded.document);
  EXPECT_TRUE(loaded.storage_file_unreadable);
  EXPECT_EQ(read_file(storage()), "{\"truncated\": ") << "the load touches neither file";
  EXPECT_EQ(read_file(backup()), "[]");
}

TEST_F(StorageFileTest, CommitWithoutStorageFileMakesNoBackup) {
  ASSERT_TRUE(commit_json(storage(), R"({"a":1})"));
  EXPECT_EQ(read_file(storage()), "{\n  \"a\": 1\n}");
  EXPECT_FALSE(exists(backup()));
  EXPECT_FALSE(exists(temporary()));
}

TEST_F(StorageFileTest, CommitWritesADocumentOfManyPiecesWhole) {
  std::string templates;
  for (int i = 0; i < 10000; ++i) {
    templates += (i ? "," : "") + std::string(R"({"id":"t)") + std::to_string(i) +
                 R"(","name":"\u0001 \"quoted\" \u00e9","colors":[]})";
  }
  const JsonDocument document = json(R"({"tolvanik_templates":[)" + templates + "]}");
  const std::string text = to_pretty_json(document.root());
  ASSERT_GT(text.size(), 3 * 256 * 1024u);
  ASSERT_TRUE(commit_storage_document(storage(), document.root()).written);
  EXPECT_EQ(read_file(storage()), text);
}

TEST_F(StorageFileTest, CommitBacksUpThePreviousFileByteForByte) {
  write_file(storage(), "not even json\r\n");
  write_file(temporary(), std::string(10000, 'x'));
  ASSERT_TRUE(commit_json(storage(), "{}"));
  EXPECT_EQ(read_file(backup()), "not even json\r\n");
  EXPECT_EQ(read_file(storage()), "{}") << "a longer leftover temporary file is truncated";
  EXPECT_FALSE(exists(temporary()));
}

TEST_F(StorageFileTest, FailedWriteOrRenameLeavesTheStorageFileAsItWas) {
  write_file(storage(), "{\"kept\": true}");
  // A directory where the temporary file should go makes the write fail.
  std::filesystem::create_directory(temporary());
  const auto write_failed = commit_json(storage(), "{}");
  ASSERT_FALSE(write_failed);
  EXPECT_TRUE(write_failed.error().starts_with("Write error: ")) << write_failed.error();
  EXPECT_EQ(read_file(storage()), "{\"kept\": true}");
  std::filesystem::remove(temporary());

  // A non-empty directory in place of the storage file makes the rename fail.
  const std::string directory_path = dir.file("dir.json");
  std::filesystem::create_directory(directory_path);
  write_file(dir.file("dir.json/inner"), "x");
  const auto rename_failed = commit_json(directory_path, "{}");
  ASSERT_FALSE(rename_failed);
  EXPECT_TRUE(rename_failed.error().starts_with("Rename error: ")) << rename_failed.error();
  EXPECT_EQ(read_file(dir.file("dir.json/inner")), "x");
}

}  // namespace
}  // namespace tolvanik
