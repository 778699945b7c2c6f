#include "storage/snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using testing::read_file;
using testing::ScratchDirectory;
using testing::write_file;

class SnapshotTest : public ::testing::Test {
 protected:
  StorageSnapshot snapshot_of(const std::string& text) {
    write_file(storage(), text);
    return read_storage_snapshot(storage());
  }
  std::string storage() const { return dir.file("storage.json"); }

  ScratchDirectory dir;
};

TEST_F(SnapshotTest, ReadsTheThreeMembersAndHidesDeletedTemplates) {
  const StorageSnapshot snapshot = snapshot_of(R"({
    "tolvanik_templates": [
      {"id": "a", "deleted": true},
      {"id": "b", "deleted": "true", "revision": 3},
      {"id": "c", "deleted": 1}
    ],
    "tolvanik_active_template": "b",
    "tolvanik_last_modified": 1733600000123,
    "window": {"x": 1}
  })");
  ASSERT_EQ(snapshot.templates.size(), 2u);
  EXPECT_EQ(to_compact_json(snapshot.templates[0]),
            R"({"colors":[],"id":"b","isLocked":false,"name":""})");
  EXPECT_EQ(snapshot.templates[1]["id"], "c");
  EXPECT_EQ(snapshot.active_template_id, "b");
  EXPECT_EQ(snapshot.last_modified, 1733600000123.0);
}

TEST_F(SnapshotTest, MembersOfTheWrongTypeGiveEmptyFields) {
  const StorageSnapshot snapshot = snapshot_of(
      R"({"tolvanik_templates": {"id": "a"}, "tolvanik_active_template": null,
          "tolvanik_last_modified": "1733600000123"})");
  EXPECT_TRUE(snapshot.templates.empty());
  EXPECT_EQ(snapshot.active_template_id, "");
  EXPECT_EQ(snapshot.last_modified, 0.0);
  EXPECT_EQ(snapshot_of(R"({"tolvanik_active_template": 7})").active_template_id, "");
}

TEST_F(SnapshotTest, UnknownMembersOnlyGiveTheEmptySnapshotAndTouchNothing) {
  const std::string text = "{\"window\": {\"x\": 1}}";
  const StorageSnapshot snapshot = snapshot_of(text);
  EXPECT_TRUE(snapshot.templates.empty());
  EXPECT_EQ(snapshot.last_modified, 0.0);
  EXPECT_EQ(read_file(storage()), text);
  EXPECT_FALSE(std::filesystem::exists(dir.file("storage.json.bak")));
}

TEST_F(SnapshotTest, EmptyStorageFileFallsBackToTheBackupAndRestoresIt) {
  const std::string backup = R"({"tolvanik_templates": [{"id": "from-backup"}]})";
  write_file(dir.file("storage.json.bak"), backup);
  const StorageSnapshot snapshot = snapshot_of("{}");
  ASSERT_EQ(snapshot.templates.size(), 1u);
  EXPECT_EQ(snapshot.templates[0]["id"], "from-backup");
  EXPECT_EQ(read_file(storage()), backup);
}

TEST_F(SnapshotTest, MissingDirectoryGivesTheEmptySnapshotAndCreatesNothing) {
  const std::string missing = dir.file("absent/storage.json");
  const StorageSnapshot snapshot = read_storage_snapshot(missing);
  EXPECT_TRUE(snapshot.templates.empty());
  EXPECT_EQ(snapshot.active_template_id, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("absent")));
}

}  // namespace
}  // namespace tolvanik
