// "setColors" and "syncRequest" seen from outside: the storage file is
// compared byte for byte with documents written out here, never with what
// the code under test would produce.

#include <chrono>
#include <filesystem>
#include <string>

#include "harness.h"
#include "messaging/json.h"
#include "support/json_text.h"

namespace tolvanik::blackbox {
namespace {

class StorageWriteTest : public HostTest {
 protected:
  bool storage_has(std::string_view name) const {
    return std::filesystem::exists(storage_sibling(name));
  }
};
TOLVANIK_BLACKBOX_TARGETS(StorageWriteTest);

const std::string kSetColorsOk = R"({"success":true,"type":"setColorsResult"})";
const std::string kSetColorsFailed = R"({"success":false,"type":"setColorsResult"})";

TEST_P(StorageWriteTest, SetColorsCreatesTheStorageFileWithoutBackup) {
  create_storage_dir();
  EXPECT_EQ(
      reply_to(R"({"type":"setColors","activeTemplateId":"warm","lastModified":1733600000000,)"
               R"("templates":[{"id":"warm","name":"Warm","isLocked":true,"colors":[)"
               R"({"id":"c1","name":"Red","hex":"#ff0000","isAutoNamed":true,"isLocked":false},)"
               R"({"id":"c2","hex":"#00FF00"}]}]})"),
      kSetColorsOk);
  EXPECT_EQ(read_storage_file(), R"({
  "tolvanik_active_template": "warm",
  "tolvanik_last_modified": 1733600000000.0,
  "tolvanik_templates": [
    {
      "colors": [
        {
          "hex": "#ff0000",
          "id": "c1",
          "isAutoNamed": true,
          "isLocked": false,
          "name": "Red"
        },
        {
          "hex": "#00FF00",
          "id": "c2"
        }
      ],
      "contentHash": "c3bbe2799c2df99fe04d65713cb5ccc53e6eca4827b60a9128426d5a0a2d103b",
      "createdAt": 1733600000000.0,
      "createdBy": "chrome-host",
      "deleted": false,
      "deletedAt": null,
      "deletedBy": null,
      "id": "warm",
      "isLocked": true,
      "lastModified": 1733600000000.0,
      "modifiedBy": "chrome-host",
      "name": "Warm",
      "revision": 1
    }
  ]
})");
  EXPECT_FALSE(storage_has("bak"));
  EXPECT_FALSE(storage_has("tmp"));
  EXPECT_EQ(read_storage_file("storage.json.lock"), "");
}

const std::string kDesktopDocument =
    R"({"window":{"width":800,"maximized":false},"tolvanik_sync_config":{"deviceId":"desk-7"},)"
    R"("tolvanik_active_template":"old","tolvanik_last_modified":1733500000000,"tolvanik_templates":[)"
    R"({"id":"warm","name":"Old","revision":1,"createdAt":1733400000000.0,"createdBy":"first"},)"
    R"({"id":"warm","name":"Old2","revision":41,"createdAt":1733450000000.0,"createdBy":"desk-7",)"
    R"("deleted":true,"deletedAt":1733460000000.0,"deletedBy":"desk-7","pinned":true},)"
    R"({"id":5,"name":"numeric id"},{"id":"dropped","name":"Not sent"}]})";

// The later of two records with one id is the one updated; a deleted record
// stays deleted; records the extension did not send, and records without a
// string id, are gone; the desktop's own members stay.
TEST_P(StorageWriteTest, SetColorsMergesIntoTheDesktopDocumentAndKeepsABackup) {
  write_storage_file(kDesktopDocument);
  EXPECT_EQ(
      reply_to(R"({"type":"setColors","activeTemplateId":"warm","lastModified":1733600000000,)"
               R"("templates":[{"id":"warm","name":"Renamed","isLocked":"yes","colors":[)"
               R"({"id":"a1","name":"Red","hex":"#ff0000","isAutoNamed":true,"note":"kept"}]},)"
               R"({"id":5,"name":"Cool","colors":[{"id":"b1","name":"Blue","hex":"#0000ff"}]}]})"),
      kSetColorsOk);
  EXPECT_EQ(read_storage_file(), R"({
  "tolvanik_active_template": "warm",
  "tolvanik_last_modified": 1733600000000.0,
  "tolvanik_sync_config": {
    "deviceId": "desk-7"
  },
  "tolvanik_templates": [
    {
      "colors": [
        {
          "hex": "#ff0000",
          "id": "a1",
          "isAutoNamed": true,
          "name": "Red",
          "note": "kept"
        }
      ],
      "contentHash": "05ce78c36747f81145d47f277cc99dffa5d6f2918900e2f2d14c2862e3f33da1",
      "createdAt": 1733450000000.0,
      "createdBy": "desk-7",
      "deleted": true,
      "deletedAt": 1733460000000.0,
      "deletedBy": "desk-7",
      "id": "warm",
      "isLocked": false,
      "lastModified": 1733600000000.0,
      "modifiedBy": "desk-7",
      "name": "Renamed",
      "pinned": true,
      "revision": 42
    },
    {
      "colors": [
        {
          "hex": "#0000ff",
          "id": "b1",
          "name": "Blue"
        }
      ],
      "contentHash": "d5848fc2d6ee9605f82aa58e8f140dae29d5ff205668c19887cb9af55af1cb9d",
      "createdAt": 1733600000000.0,
      "createdBy": "desk-7",
      "deleted": false,
      "deletedAt": null,
      "deletedBy": null,
      "id": "",
      "isLocked": false,
      "lastModified": 1733600000000.0,
      "modifiedBy": "desk-7",
      "name": "Cool",
      "revision": 1
    }
  ],
  "window": {
    "maximized": false,
    "width": 800
  }
})");
  EXPECT_EQ(read_storage_file("storage.json.bak"), kDesktopDocument);
  EXPECT_FALSE(storage_has("tmp"));
}

TEST_P(StorageWriteTest, AbsentStampIsTheCurrentTimeInWholeMilliseconds) {
  create_storage_dir();
  const auto now_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const auto before = now_ms();
  EXPECT_EQ(reply_to(R"({"type":"setColors","templates":[],"lastModified":"1733600000000"})"),
            kSetColorsOk);
  const auto after = now_ms();
  const auto document = parse_json(read_storage_file().value_or(""));
  ASSERT_TRUE(document);
  const JsonValue* stamp = document->root().find("tolvanik_last_modified");
  ASSERT_TRUE(stamp && stamp->kind() == JsonKind::kDouble);
  EXPECT_GE(stamp->as_double(), static_cast<double>(before));
  EXPECT_LE(stamp->as_double(), static_cast<double>(after));
  EXPECT_EQ(stamp->as_double(), static_cast<double>(static_cast<long long>(stamp->as_double())));
  EXPECT_EQ(testing::text_at(document->root(), "tolvanik_active_template"), R"("")");
}

TEST_P(StorageWriteTest, SetColorsWithoutTemplatesArrayTouchesNoFile) {
  create_storage_dir();
  for (const std::string request :
       {R"({"type":"setColors"})", R"({"type":"setColors","templates":{}})",
        R"({"type":"setColors","templates":"[]"})"}) {
    SCOPED_TRACE(request);
    EXPECT_EQ(reply_to(request), kSetColorsOk);
    EXPECT_TRUE(std::filesystem::is_empty(storage_dir())) << "not even the lock file";
  }
}

// An update that could not be committed must not be reported as a success.
TEST_P(StorageWriteTest, SetColorsReportsAnUpdateThatWasNotCommitted) {
  EXPECT_EQ(reply_to(R"({"type":"setColors","templates":[]})"), kSetColorsFailed)
      << "the storage directory does not exist";
  EXPECT_FALSE(std::filesystem::exists(storage_dir()));
}

// Rebuilding the document from nothing would wipe the desktop
// application's own data, so a file the host cannot read stays as it is.
TEST_P(StorageWriteTest, AnUnreadableStorageFileWithoutBackupIsNeverReplaced) {
  const std::string torn = R"({"window": {"width": 800}, "tolvanik_templ)";
  write_storage_file(torn);
  EXPECT_EQ(reply_to(R"({"type":"setColors","templates":[{"id":"a"}]})"), kSetColorsFailed);
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","lastModified":5,"templates":[{"id":"a"}]})"),
            R"({"lastModified":5.0,"type":"syncResponse","winner":"chrome"})");
  EXPECT_EQ(read_storage_file(), torn);
  EXPECT_FALSE(storage_has("bak"));
  EXPECT_FALSE(storage_has("tmp"));
}

TEST_P(StorageWriteTest, SyncRequestHandsOverTheDesktopSideWhenItIsStrictlyNewer) {
  const std::string document =
      R"({"tolvanik_last_modified":1733600000001,"tolvanik_active_template":"t",)"
      R"("tolvanik_templates":[{"id":"t","name":"Desk"},{"id":"x","deleted":true}]})";
  write_storage_file(document);
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","lastModified":1733600000000,"templates":[]})"),
            R"({"activeTemplateId":"t","lastModified":1733600000001.0,"templates":[)"
            R"({"colors":[],"id":"t","isLocked":false,"name":"Desk"}],"type":"syncResponse",)"
            R"("winner":"mac"})");
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","templates":[]})"),
            R"({"activeTemplateId":"t","lastModified":1733600000001.0,"templates":[)"
            R"({"colors":[],"id":"t","isLocked":false,"name":"Desk"}],"type":"syncResponse",)"
            R"("winner":"mac"})")
      << "a missing stamp counts as 0";
  EXPECT_EQ(read_storage_file(), document);
  EXPECT_FALSE(storage_has("bak"));
}

TEST_P(StorageWriteTest, SyncRequestWritesTheExtensionSideOnEqualOrNewerStamps) {
  write_storage_file(R"({"tolvanik_last_modified":1733600000000.0,"keep":1})");
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","lastModified":1733600000000,"activeTemplateId":"n",)"
                     R"("templates":[{"id":"n","name":"New"}]})"),
            R"({"lastModified":1733600000000.0,"type":"syncResponse","winner":"chrome"})");
  const auto document = parse_json(read_storage_file().value_or(""));
  ASSERT_TRUE(document);
  EXPECT_EQ(testing::text_at(document->root(), "keep"), "1");
  EXPECT_EQ(testing::text_at(document->root(), "tolvanik_active_template"), R"("n")");
  EXPECT_EQ(testing::text_at(document->root(), "tolvanik_templates/0/name"), R"("New")");
  EXPECT_EQ(read_storage_file("storage.json.bak"),
            R"({"tolvanik_last_modified":1733600000000.0,"keep":1})");
}

TEST_P(StorageWriteTest, SyncRequestAgainstNoStorage) {
  create_storage_dir();
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","lastModified":-1,"templates":[]})"),
            R"({"activeTemplateId":"","lastModified":0.0,"templates":[],"type":"syncResponse",)"
            R"("winner":"mac"})");
  EXPECT_FALSE(storage_has("bak"));
  EXPECT_FALSE(read_storage_file());
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","templates":[]})"),
            R"({"lastModified":0.0,"type":"syncResponse","winner":"chrome"})");
  EXPECT_TRUE(read_storage_file()) << "the extension side was written";
}

}  // namespace
}  // namespace tolvanik::blackbox
