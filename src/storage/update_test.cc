#include "storage/update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "support/scratch_directory.h"

namespace tolvanik {
namespace {

using testing::read_file;
using testing::ScratchDirectory;
using testing::write_file;

class UpdateTest : public ::testing::Test {
 protected:
  std::string storage() const { return dir.file("storage.json"); }
  Json stored() const { return *parse_json(read_file(storage())); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir.file(name)); }

  ScratchDirectory dir;
};

TEST_F(UpdateTest, MessageWithoutTemplatesArrayTouchesNoFile) {
  for (const char* text : {R"({"type":"setColors"})", R"({"templates":{}})", "[1]"}) {
    const auto outcome = update_storage(storage(), *parse_json(text));
    ASSERT_TRUE(outcome);
    EXPECT_EQ(*outcome, UpdateOutcome::kNothingToUpdate);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "not even the lock file";
}

TEST_F(UpdateTest, NewStorageFileHoldsJustTheThreeMembersPrettyPrinted) {
  const auto outcome = update_storage(
      storage(),
      *parse_json(R"({"templates":[],"activeTemplateId":"t1","lastModified":1733600000000})"));
  ASSERT_TRUE(outcome);
  EXPECT_EQ(read_file(storage()),
            "{\n  \"tolvanik_active_template\": \"t1\",\n"
            "  \"tolvanik_last_modified\": 1733600000000.0,\n"
            "  \"tolvanik_templates\": []\n}");
  EXPECT_FALSE(exists("storage.json.bak"));
}

TEST_F(UpdateTest, KeepsTheDesktopMembersAndReplacesTheTemplateList) {
  write_file(storage(), R"({"window": {"w": 800, "ratio": 1.5}, "tolvanik_templates": [
      {"id": "gone", "deleted": true}, {"id": 5, "name": "numeric id"},
      {"id": "t", "revision": 1, "createdBy": "first"},
      {"id": "t", "revision": 7, "createdBy": "second"}],
      "tolvanik_active_template": "gone",
      "tolvanik_sync_config": {"deviceId": "desk-1", "interval": 30}})");
  const std::string before = read_file(storage());
  ASSERT_TRUE(update_storage(storage(), *parse_json(R"({"templates":[{"id":"t","name":"N"}]})")));
  const Json document = stored();
  EXPECT_EQ(document["window"], parse_json(R"({"w": 800, "ratio": 1.5})"));
  EXPECT_EQ(document["tolvanik_sync_config"], parse_json(R"({"deviceId":"desk-1","interval":30})"));
  EXPECT_EQ(document["tolvanik_active_template"], "");
  ASSERT_EQ(document["tolvanik_templates"].size(), 1u);
  const Json& record = document["tolvanik_templates"][0];
  EXPECT_EQ(record["revision"], 8) << "the later duplicate is the stored record";
  EXPECT_EQ(record["createdBy"], "second");
  EXPECT_EQ(record["modifiedBy"], "desk-1");
  EXPECT_EQ(read_file(dir.file("storage.json.bak")), before);
}

TEST_F(UpdateTest, DeviceIdFallsBackWhenTheConfigHasNoStringId) {
  write_file(storage(), R"({"tolvanik_sync_config": {"deviceId": 12}})");
  ASSERT_TRUE(update_storage(storage(), *parse_json(R"({"templates":[{"id":"x"}]})")));
  EXPECT_EQ(stored()["tolvanik_templates"][0]["createdBy"], "chrome-host");
}

TEST_F(UpdateTest, AbsentOrNonNumericStampMeansNow) {
  for (const char* text : {R"({"templates":[]})", R"({"templates":[],"lastModified":"17"})"}) {
    const double before = unix_millis_stamp(platform::system_time_since_epoch());
    ASSERT_TRUE(update_storage(storage(), *parse_json(text)));
    const double after = unix_millis_stamp(platform::system_time_since_epoch());
    const Json stamp = stored()["tolvanik_last_modified"];
    ASSERT_TRUE(stamp.is_number_float());
    EXPECT_GE(stamp.get<double>(), before);
    EXPECT_LE(stamp.get<double>(), after);
  }
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
    const auto outcome = update_storage(storage(), *parse_json(R"({"templates":[]})"));
    EXPECT_FALSE(outcome);
    EXPECT_EQ(read_file(storage()), text);
    EXPECT_FALSE(exists("storage.json.bak"));
    EXPECT_FALSE(exists("storage.json.tmp"));
  }
}

TEST_F(UpdateTest, ReplacesEmptyContentAndUsesARestoredBackup) {
  write_file(storage(), "");
  ASSERT_TRUE(update_storage(storage(), *parse_json(R"({"templates":[]})")));
  write_file(storage(), "garbage");
  write_file(dir.file("storage.json.bak"), R"({"window": 1, "tolvanik_templates": [{"id": "b"}]})");
  ASSERT_TRUE(update_storage(storage(), *parse_json(R"({"templates":[{"id":"b"}]})")));
  const Json document = stored();
  EXPECT_EQ(document["window"], 1);
  EXPECT_EQ(document["tolvanik_templates"][0]["revision"], 1)
      << "the backup's record has no revision, so the next is 1";
  EXPECT_EQ(*parse_json(read_file(dir.file("storage.json.bak"))),
            *parse_json(R"({"window": 1, "tolvanik_templates": [{"id": "b"}]})"))
      << "the restored file was backed up before being replaced";
}

}  // namespace
}  // namespace tolvanik
