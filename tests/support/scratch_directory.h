// A fresh directory under the system's temporary directory for tests that
// touch real files, removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "platform/environment.h"

namespace tolvanik::testing {

inline std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

inline std::filesystem::path path_of(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Replaces the file's content with `bytes`, bypassing the code under test.
inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path_of(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path_of(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    do {
      path_ = base / ("tolvanik-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string path() const { return utf8_of(path_); }
  std::string file(std::string_view name) const {
    return path() + platform::kPathSeparator + std::string(name);
  }
  void put(std::string_view name, std::string_view bytes) const { write_file(file(name), bytes); }
  std::string get(std::string_view name) const { return read_file(file(name)); }

 private:
  std::filesystem::path path_;
};

}  // namespace tolvanik::testing
