#include "storage/update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/json_text.h"
#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using testing::json;
using testing::read_file;
using testing::ScratchDirectory;
using testing::text_at;
using testing::write_file;

class UpdateTest : public ::testing::Test {
 protected:
  std::string storage() const { return dir.file("storage.json"); }
  JsonDocument stored() const { return json(read_file(storage())); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir.file(name)); }

  ScratchDirectory dir;
};

TEST_F(UpdateTest, DeviceIdFallsBackWhenTheConfigHasNoStringId) {
  write_file(storage(), R"({"tolvanik_sync_config": {"deviceId": 12}})");
  ASSERT_EQ(update_storage(storage(), json(R"({"templates":[{"id":"x"}]})")).outcome,
            UpdateOutcome::kCommitted);
  EXPECT_EQ(text_at(stored().root(), "tolvanik_templates/0/createdBy"), R"("chrome-host")");
}

TEST(UnixMillisStamp, TruncatesToWholeMillisecondsAndClampsBeforeTheEpoch) {
  using std::chrono::nanoseconds;
  EXPECT_EQ(unix_millis_stamp(nanoseconds(1733600000123999999)), 1733600000123.0);
  EXPECT_EQ(unix_millis_stamp(nanoseconds(-5)), 0.0);
}

// Rebuilding the document from nothing would wipe the desktop
// application's data, so an unreadable file without a backup stays.
TEST_F(UpdateTest, RefusesToReplaceContentItCannotRead) {
  for (const std::string text : {"{\"window\": ", "[1, 2]", "\xEF\xBB\xBF{\"a\": 1}"}) {
    write_file(storage(), text);
    const StorageUpdate update = update_storage(storage(), json(R"({"templates":[]})"));
    EXPECT_EQ(update.outcome, UpdateOutcome::kRefused);
    EXPECT_TRUE(update.facts.update_refused);
    EXPECT_EQ(read_file(storage()), text);
    EXPECT_FALSE(exists("storage.json.bak"));
    EXPECT_FALSE(exists("storage.json.tmp"));
  }
}

TEST_F(UpdateTest, ReplacesEmptyContentAndUsesARestoredBackup) {
  write_file(storage(), "");
  ASSERT_EQ(update_storage(storage(), json(R"({"templates":[]})")).outcome,
            UpdateOutcome::kCommitted);
  write_file(storage(), "garbage");
  write_file(dir.file("storage.json.bak"), R"({"window": 1, "tolvanik_templates": [{"id": "b"}]})");
  const StorageUpdate update = update_storage(storage(), json(R"({"templates":[{"id":"b"}]})"));
  ASSERT_EQ(update.outcome, UpdateOutcome::kCommitted);
  EXPECT_TRUE(update.facts.backup_loaded);
  EXPECT_TRUE(update.facts.failures.empty());
  const JsonDocument document = stored();
  EXPECT_EQ(text_at(document.root(), "window"), "1");
  EXPECT_EQ(text_at(document.root(), "tolvanik_templates/0/revision"), "1")
      << "the backup's record has no revision, so the next is 1";
  EXPECT_EQ(read_file(dir.file("storage.json.bak")),
            R"({"window": 1, "tolvanik_templates": [{"id": "b"}]})")
      << "the restored file was backed up before being replaced";
}

}  // namespace
}  // namespace tolvanik
