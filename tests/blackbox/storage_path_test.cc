// Storage below user directories as they come: names in any script, and
// directories nested deeper than the 260 characters of old Windows paths.

#include <filesystem>
#include <string>

#include "harness.h"

namespace tolvanik::blackbox {
namespace {

namespace fs = std::filesystem;

class StoragePathTest : public HostTest {
 protected:
  // setColors writes below `appdata`, getStatus reads it back.
  void round_trip_through(const fs::path& appdata) {
    SCOPED_TRACE(appdata.string());
    use_appdata(appdata);
    create_storage_dir();
    EXPECT_EQ(reply_to(R"({"type":"setColors","activeTemplateId":"t","lastModified":5,)"
                       R"("templates":[{"id":"t","name":"Zürich 夜","colors":[]}]})"),
              R"({"success":true,"type":"setColorsResult"})");
    EXPECT_NE(read_storage_file().value_or("").find("Zürich 夜"), std::string::npos);
    EXPECT_EQ(
        reply_to(R"({"type":"getStatus"})"),
        R"({"activeTemplateId":"t","isRunning":false,"lastModified":5.0,)"
        R"("templates":[{"colors":[],"id":"t","isLocked":false,"name":"Zürich 夜"}],"type":"status"})");
    EXPECT_TRUE(fs::exists(storage_sibling("lock")));
  }
};
TOLVANIK_BLACKBOX_TARGETS(StoragePathTest);

TEST_P(StoragePathTest, NonAsciiUserDirectory) {
  round_trip_through(work_dir() / "Users" / "Jürgen Ø 日本" / "AppData" / "Roaming");
}

TEST_P(StoragePathTest, UserDirectoryDeeperThanMaxPath) {
  fs::path appdata = work_dir();
  while (target_path(appdata).size() < 300) {
    appdata /= "a directory name of some fifty characters, nested";
  }
  round_trip_through(appdata);
}

}  // namespace
}  // namespace tolvanik::blackbox
