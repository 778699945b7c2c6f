// The storage path when the system itself fails: a full disk, a read-only
// storage directory, and a lock holder that dies while the host waits.

#include <sys/mount.h>

#include <chrono>
#include <string>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

const std::string kSetColorsOk = R"({"success":true,"type":"setColorsResult"})";
const std::string kSetColorsFailed = R"({"success":false,"type":"setColorsResult"})";
const std::string kEmptyStatus =
    R"({"activeTemplateId":"","isRunning":false,"lastModified":0.0,"templates":[],"type":"status"})";

// `count` templates of a few hundred bytes each.
std::string set_colors_request(const std::string& active_id, int count) {
  std::string templates;
  for (int t = 0; t < count; ++t) {
    templates +=
        (t ? "," : "") + std::string(R"({"id":"t)") + std::to_string(t) +
        R"(","name":"A template with a fairly long name","colors":[)" +
        R"({"id":"c","name":"Red","hex":"#ff0000"},{"id":"d","name":"Blue","hex":"#0000ff"}]})";
  }
  return R"({"type":"setColors","activeTemplateId":")" + active_id +
         R"(","lastModified":1733600000000,"templates":[)" + templates + "]}";
}

class StorageFaultTest : public HostTest {
 protected:
  // Puts a small memory file system of `kilobytes` on the storage
  // directory; false where this machine does not allow mounting.
  bool mount_storage_dir(int kilobytes) {
    create_storage_dir();
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    mounted_ = mount("tolvanik-test", storage_dir().c_str(), "tmpfs", 0, options.c_str()) == 0;
    return mounted_;
  }
  bool remount_read_only() {
    return mount("tolvanik-test", storage_dir().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                 nullptr) == 0;
  }
  void TearDown() override {
    if (mounted_) umount2(storage_dir().c_str(), MNT_DETACH);
    HostTest::TearDown();
  }

 private:
  bool mounted_ = false;
};
TOLVANIK_BLACKBOX_TARGETS(StorageFaultTest);

// The new document does not fit beside the old one and its backup: the
// update fails and says so, and the files stay as they were.
TEST_P(StorageFaultTest, FullDiskLeavesTheStorageFileAndBackupWhole) {
  if (!mount_storage_dir(256)) GTEST_SKIP() << "cannot mount a file system here";
  ASSERT_EQ(reply_to(set_colors_request("before", 100)), kSetColorsOk);
  const std::string before = read_storage_file().value_or("");
  ASSERT_GT(before.size(), 40'000u);
  ASSERT_LT(before.size(), 80'000u);

  EXPECT_EQ(reply_to(set_colors_request("too-big", 500)), kSetColorsFailed);
  EXPECT_EQ(read_storage_file(), before);
  EXPECT_EQ(read_storage_file("storage.json.bak"), before);

  const std::string status = reply_to(R"({"type":"getStatus"})");
  EXPECT_TRUE(status.starts_with(R"({"activeTemplateId":"before")")) << status;
  EXPECT_EQ(reply_to(set_colors_request("after", 10)), kSetColorsOk)
      << "the leftover temporary file is truncated and rewritten";
  EXPECT_NE(read_storage_file()->find(R"("after")"), std::string::npos);
}

// Nothing can be written, not even the lock file: no request changes
// anything, and none claims to have.
TEST_P(StorageFaultTest, ReadOnlyStorageDirectoryChangesNothing) {
  if (!mount_storage_dir(256)) GTEST_SKIP() << "cannot mount a file system here";
  ASSERT_EQ(reply_to(set_colors_request("before", 3)), kSetColorsOk);
  const std::string before = read_storage_file().value_or("");
  ASSERT_TRUE(remount_read_only());

  EXPECT_EQ(reply_to(set_colors_request("after", 3)), kSetColorsFailed);
  EXPECT_EQ(reply_to(R"({"type":"syncRequest","lastModified":1900000000000,"templates":[]})"),
            R"({"lastModified":1900000000000.0,"type":"syncResponse","winner":"chrome"})");
  EXPECT_EQ(reply_to(R"({"type":"getStatus"})"), kEmptyStatus)
      << "the lock file cannot be opened for writing";
  EXPECT_EQ(read_storage_file(), before);
}

// The lock holder dies instead of letting go: the system drops its lock and
// the waiting host goes on at once.
TEST_P(StorageFaultTest, HostGoesOnWhenTheLockHolderIsKilled) {
  write_storage_file(R"({"tolvanik_active_template": "kept"})");
  auto holder = hold_storage_lock();
  start();
  ASSERT_TRUE(send_frame(R"({"type":"getStatus"})"));
  EXPECT_FALSE(read_frame(1500ms)) << "no answer while the lock is held";
  holder->kill();
  const auto reply = read_frame(under_wine() ? 30s : 5s);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->starts_with(R"({"activeTemplateId":"kept")")) << *reply;
  EXPECT_EQ(wait_exit(), 0);
  EXPECT_EQ(stderr_text(), "");
}

}  // namespace
}  // namespace tolvanik::blackbox
