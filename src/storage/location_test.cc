#include "storage/location.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace tolvanik {
namespace {

std::string native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return path;
}

TEST(StoragePath, JoinsAppDataWithTheDesktopDirectory) {
  EXPECT_EQ(storage_path_from_appdata(native("/home/u/appdata")),
            native("/home/u/appdata/io.tolvanik.desktop/storage.json"));
  EXPECT_EQ(storage_path_from_appdata(std::nullopt), native("io.tolvanik.desktop/storage.json"));
}

TEST(SiblingPath, ReplacesTheExtensionOfTheFileNameOnly) {
  EXPECT_EQ(sibling_path(native("/d/storage.json"), "json.lock"), native("/d/storage.json.lock"));
  EXPECT_EQ(sibling_path(native("/d.x/storage"), "json.tmp"), native("/d.x/storage.json.tmp"));
  EXPECT_EQ(sibling_path("storage.json", "json.bak"), "storage.json.bak");
}

TEST(PathComponents, SplitAtTheLastSeparator) {
  EXPECT_EQ(parent_directory(native("/a/b/storage.json")), native("/a/b"));
  EXPECT_EQ(final_component(native("/a/b/storage.json")), "storage.json");
  EXPECT_EQ(parent_directory("storage.json"), "storage.json");
  EXPECT_EQ(final_component(native("/a/")), "");
}

}  // namespace
}  // namespace tolvanik
