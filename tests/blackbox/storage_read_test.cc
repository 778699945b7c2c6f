// "getStatus" seen from outside: what the host reads from the desktop
// application's storage directory, and what it leaves there.

#include <filesystem>
#include <fstream>
#include <string>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

class StorageReadTest : public HostTest {
 protected:
  std::string get_status() {
    const HostRun run = run_host(frame(R"({"type":"getStatus"})"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    return run.output.size() >= 4 ? run.output.substr(4) : run.output;
  }
};
TOLVANIK_BLACKBOX_TARGETS(StorageReadTest);

const std::string kEmptyStatus =
    R"({"activeTemplateId":"","isRunning":false,"lastModified":0.0,"templates":[],"type":"status"})";

const std::string kDesktopDocument = R"({
  "window": {"width": 800},
  "tolvanik_active_template": "warm",
  "tolvanik_last_modified": 1733600000123,
  "tolvanik_sync_config": {"deviceId": "desk"},
  "tolvanik_templates": [
    {"id": "gone", "name": "Deleted", "deleted": true, "colors": []},
    {"name": "Warm", "id": "warm", "revision": 4, "contentHash": "abc", "isLocked": true,
     "colors": [{"name": "Red", "hex": "#ff0000", "id": "c1", "isAutoNamed": true, "extra": 1},
                {"id": "c2"}, 42]},
    {"id": 7, "name": null}
  ]
})";

const std::string kDesktopStatus =
    R"({"activeTemplateId":"warm","isRunning":false,"lastModified":1733600000123.0,"templates":[)"
    R"({"colors":[{"hex":"#ff0000","id":"c1","isAutoNamed":true,"isLocked":false,"name":"Red"},)"
    R"({"hex":"","id":"c2","isAutoNamed":false,"isLocked":false,"name":""},)"
    R"({"hex":"","id":"","isAutoNamed":false,"isLocked":false,"name":""}],)"
    R"("id":"warm","isLocked":true,"name":"Warm"},)"
    R"({"colors":[],"id":7,"isLocked":false,"name":null}],"type":"status"})";

TEST_P(StorageReadTest, ReportsVisibleTemplateViewsInByteExactOrder) {
  write_storage_file(kDesktopDocument);
  EXPECT_EQ(get_status(), kDesktopStatus);
  EXPECT_EQ(read_storage_file(), kDesktopDocument) << "reading never rewrites the file";
  EXPECT_FALSE(read_storage_file("storage.json.bak"));
}

TEST_P(StorageReadTest, MissingDirectoryGivesTheEmptyStatusAndCreatesNothing) {
  EXPECT_EQ(get_status(), kEmptyStatus);
  EXPECT_FALSE(std::filesystem::exists(storage_dir()));
}

TEST_P(StorageReadTest, LockFileIsCreatedEmptyWhenMissingAndLeftAloneWhenPresent) {
  create_storage_dir();
  EXPECT_EQ(get_status(), kEmptyStatus);
  EXPECT_EQ(read_storage_file("storage.json.lock"), "");
  write_storage_file("held by the desktop", "storage.json.lock");
  get_status();
  EXPECT_EQ(read_storage_file("storage.json.lock"), "held by the desktop");
}

TEST_P(StorageReadTest, UnreadableStorageFileFallsBackToTheBackupAndIsRestored) {
  const std::string unreadable[] = {"{}",
                                    "",
                                    "\xEF\xBB\xBF{\"a\":1}",
                                    "{\"a\":\"\xC3\"}",
                                    "[1]",
                                    "\"text\"",
                                    "{\"a\":1} x",
                                    std::string(128, '[') + std::string(128, ']'),
                                    "{\"tolvanik_templates\": [",
                                    std::string(kDesktopDocument) + '\0'};
  for (const std::string& text : unreadable) {
    SCOPED_TRACE(text);
    write_storage_file(text);
    write_storage_file(kDesktopDocument, "storage.json.bak");
    EXPECT_EQ(get_status(), kDesktopStatus);
    EXPECT_EQ(read_storage_file(), kDesktopDocument);
  }
  std::filesystem::remove(storage_file());
  EXPECT_EQ(get_status(), kDesktopStatus);
  EXPECT_EQ(read_storage_file(), kDesktopDocument) << "a missing file is restored too";
}

TEST_P(StorageReadTest, UnreadableStorageAndBackupGiveTheEmptyStatusAndStayAsTheyAre) {
  write_storage_file("{\"a\":1} x");
  write_storage_file("[]", "storage.json.bak");
  EXPECT_EQ(get_status(), kEmptyStatus);
  EXPECT_EQ(read_storage_file(), "{\"a\":1} x");
  EXPECT_EQ(read_storage_file("storage.json.bak"), "[]");
}

TEST_P(StorageReadTest, BackupWithATrailingNulByteIsNotUsed) {
  const std::string backup = std::string(kDesktopDocument) + '\0';
  write_storage_file("{\"a\":1} x");
  write_storage_file(backup, "storage.json.bak");
  EXPECT_EQ(get_status(), kEmptyStatus);
  EXPECT_EQ(read_storage_file(), "{\"a\":1} x");
  EXPECT_EQ(read_storage_file("storage.json.bak"), backup);
}

TEST_P(StorageReadTest, ReportsTheDesktopApplicationAsRunning) {
  set_running({"app.exe"});
  write_storage_file(R"({"tolvanik_last_modified": 5})");
  start();
  ASSERT_TRUE(send_frame(R"({"type":"getStatus"})"));
  EXPECT_EQ(
      read_frame(),
      R"({"activeTemplateId":"","isRunning":true,"lastModified":5.0,"templates":[],"type":"status"})");
  close_input();
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(tasklist_starts().size(), 4u) << "two at start, two for the request";
}

// The host must wait for the lock and read the file only once it has it:
// what the lock holder writes while holding it is what the host reports.
TEST_P(StorageReadTest, WaitsForTheStorageLockBeforeReading) {
  write_storage_file(R"({"tolvanik_active_template": "before"})");
  auto holder = hold_storage_lock();
  ASSERT_TRUE(holder);
  start();
  ASSERT_TRUE(send_frame(R"({"type":"getStatus"})"));
  EXPECT_FALSE(read_frame(1500ms)) << "no answer while the lock is held";
  write_storage_file(R"({"tolvanik_active_template": "after"})");
  holder->close_input();
  EXPECT_EQ(holder->wait_exit(), 0);
  const auto reply = read_frame();
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->find(R"("activeTemplateId":"after")"), std::string::npos) << *reply;
  EXPECT_EQ(wait_exit(), 0);
}

// Wine always gives programs its own APPDATA, so only the Linux host can be
// started without a usable one.
class RelativeStorageTest : public StorageReadTest {};
INSTANTIATE_TEST_SUITE_P(Native, RelativeStorageTest, testing::Values(Target::native), target_name);

TEST_P(RelativeStorageTest, AppDataThatIsNotTextMeansBelowTheCurrentDirectory) {
  set_env("APPDATA", "\xFF\xFE");
  const std::filesystem::path relative = work_dir() / "io.tolvanik.desktop";
  std::filesystem::create_directories(relative);
  std::ofstream(relative / "storage.json") << R"({"tolvanik_active_template": "here"})";
  EXPECT_EQ(get_status(),
            R"({"activeTemplateId":"here","isRunning":false,"lastModified":0.0,"templates":[],)"
            R"("type":"status"})");
  EXPECT_TRUE(std::filesystem::exists(relative / "storage.json.lock"));
}

}  // namespace
}  // namespace tolvanik::blackbox
