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

TEST_F(SnapshotTest, MembersOfTheWrongTypeGiveEmptyFields) {
  const StorageSnapshot snapshot = snapshot_of(
      R"({"tolvanik_templates": {"id": "a"}, "tolvanik_active_template": null,
          "tolvanik_last_modified": "1733600000123"})");
  EXPECT_TRUE(snapshot.templates.elements().empty());
  EXPECT_EQ(snapshot.active_template_id, "");
  EXPECT_EQ(snapshot.last_modified, 0.0);
  EXPECT_EQ(snapshot_of(R"({"tolvanik_active_template": 7})").active_template_id, "");
}

TEST_F(SnapshotTest, UnknownMembersOnlyGiveTheEmptySnapshotAndTouchNothing) {
  const std::string text = "{\"window\": {\"x\": 1}}";
  const StorageSnapshot snapshot = snapshot_of(text);
  EXPECT_TRUE(snapshot.templates.elements().empty());
  EXPECT_EQ(snapshot.last_modified, 0.0);
  EXPECT_EQ(read_file(storage()), text);
  EXPECT_FALSE(std::filesystem::exists(dir.file("storage.json.bak")));
}

}  // namespace
}  // namespace tolvanik
