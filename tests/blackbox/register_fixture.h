// The fixture of the tolvanik_register tests: a temporary HOME natively,
// the Wine prefix's registry under Wine, and what each test reads back.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "messaging/json.h"
#include "support/json_text.h"

namespace tolvanik::blackbox {

namespace fs = std::filesystem;

inline const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
inline const std::string kOtherOrigin = "chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/";
inline const std::string kName = "io.tolvanik.registertest";
inline const std::string kAddonId = "tester@tolvanik.example";

class RegisterTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    if (IsSkipped()) return;
    home_ = work_dir() / "home";
    fs::create_directory(home_);
    set_env("HOME", home_.string());
  }

  void TearDown() override {
    // The Wine prefix's registry outlives the test.
    if (under_wine() && !work_dir().empty()) register_tool({"uninstall", "--name", kName});
    HostTest::TearDown();
  }

  HostRun register_tool(std::vector<std::string> arguments) {
    return run_beside_host("tolvanik_register", arguments);
  }

  std::string host_path() const {
    return target_path(work_dir() / (under_wine() ? "tolvanik_host.exe" : "tolvanik_host"));
  }

  // The default value of a key below HKCU, as `wine reg query` shows it.
  std::optional<std::string> registry_default(const std::string& key) {
    const auto run = run_command({"wine", "reg", "query", "HKCU\\" + key, "/ve"});
    if (run.status != 0) return std::nullopt;
    const std::size_t type = run.output.find("REG_SZ");
    if (type == std::string::npos) return std::nullopt;
    std::string value = run.output.substr(type + 6);
    const std::size_t start = value.find_first_not_of(" \t");
    const std::size_t end = value.find_first_of("\r\n", start);
    return value.substr(start, end - start);
  }

  static std::string chrome_key() {
    return "Software\\Google\\Chrome\\NativeMessagingHosts\\" + kName;
  }
  static std::string edge_key() {
    return "Software\\Microsoft\\Edge\\NativeMessagingHosts\\" + kName;
  }

  static std::string firefox_key() { return "Software\\Mozilla\\NativeMessagingHosts\\" + kName; }

  fs::path firefox_manifest() const {
    return under_wine() ? work_dir() / (kName + ".firefox.json")
                        : home_ / ".mozilla" / "native-messaging-hosts" / (kName + ".json");
  }
  fs::path chrome_manifest() const {
    return under_wine() ? work_dir() / (kName + ".json") : user_manifest("google-chrome");
  }

  fs::path user_manifest(const std::string& folder) const {
    return home_ / ".config" / folder / "NativeMessagingHosts" / (kName + ".json");
  }
  fs::path profile_manifest() const {
    return work_dir() / "profile" / "NativeMessagingHosts" / (kName + ".json");
  }

  // The compact text of the JSON in the file at `path`, "" when it holds none.
  static std::string read_json(const fs::path& path, std::string_view member = "") {
    std::ifstream file(path, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    const auto document = parse_json(text);
    return document ? testing::text_at(document->root(), member) : std::string();
  }

  // Every file below the test's folder except the programs copied there.
  std::vector<fs::path> written_files() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(work_dir())) {
      if (entry.is_regular_file() && entry.path().parent_path() != work_dir()) {
        files.push_back(entry.path());
      }
    }
    return files;
  }

  void expect_refused(const HostRun& run, const std::string& message) {
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.errors.find(message), std::string::npos) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
  }

  fs::path home_;
};
}  // namespace tolvanik::blackbox
