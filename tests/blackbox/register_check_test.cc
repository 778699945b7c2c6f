// tolvanik_register check against what the browsers find: every
// registration in the browser's order, the policies that decide, the
// storage file's health, and the same as one JSON report. Registry cases
// run under Wine, folder and policy-file cases natively below a staged
// system root, the storage cases on both.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>

#include "register_fixture.h"
#include "support/scratch_directory.h"

namespace tolvanik::blackbox {
namespace {

using testing::text_at;

class RegisterCheckTest : public RegisterTest {
 protected:
  void SetUp() override {
    RegisterTest::SetUp();
    if (IsSkipped()) return;
    system_root_ = work_dir() / "root";
    set_env("TOLVANIK_SYSTEM_ROOT", system_root_.string());
  }

  void TearDown() override {
    if (under_wine() && !work_dir().empty()) {
      register_tool({"uninstall", "--name", kName, "--all-users"});
      for (const std::string& key : {kChromePolicies, kStaleChromeEntry, kAppLockerExe})
        wine_reg({"delete", key, "/f"});
    }
    RegisterTest::TearDown();
  }

  void wine_reg(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"wine", "reg"});
    run_command(arguments);
  }

  // Runs check for one browser; every line is checked for.
  HostRun check_expecting(const std::vector<std::string>& lines, int status,
                          const std::string& browser = "chrome") {
    const auto run = register_tool({"check", "--name", kName, "--browser", browser});
    EXPECT_EQ(run.status, status) << run.output;
    for (const std::string& line : lines) {
      EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    }
    return run;
  }

  std::string hklm(const std::string& key) const { return "HKLM\\" + key; }

  static inline const std::string kChromePolicies = "HKLM\\Software\\Policies\\Google\\Chrome";
  static inline const std::string kAppLockerExe =
      "HKLM\\Software\\Policies\\Microsoft\\Windows\\SrpV2\\Exe";
  static inline const std::string kStaleChromeEntry =
      "HKLM\\Software\\WOW6432Node\\Google\\Chrome\\NativeMessagingHosts\\" + kName;
  fs::path system_root_;
};
TOLVANIK_BLACKBOX_TARGETS(RegisterCheckTest);

// The registry is Windows'; Linux browsers read folders and policy files.
class RegistryCheckTest : public RegisterCheckTest {};
INSTANTIATE_TEST_SUITE_P(Wine, RegistryCheckTest, ::testing::Values(Target::wine), target_name);
class FolderCheckTest : public RegisterCheckTest {};
INSTANTIATE_TEST_SUITE_P(Native, FolderCheckTest, ::testing::Values(Target::native), target_name);

TEST_P(RegistryCheckTest, EntriesAndPoliciesAsTheChromiumFamilyReadsThem) {
  const std::vector<std::string> install = {"install", "--name",    kName,   "--origin",
                                            kOrigin,   "--browser", "chrome"};
  ASSERT_EQ(register_tool(install).status, 0);
  auto all_users = install;
  all_users.push_back("--all-users");
  ASSERT_EQ(register_tool(all_users).status, 0);
  const std::string user_entry = "HKCU\\" + chrome_key();
  const std::string machine_entry = hklm(chrome_key());
  check_expecting(
      {"chrome: registered at " + user_entry,
       "chrome: shadowed, not used: " + machine_entry + " names ", ": valid", "verdict: OK"},
      0);

  // Per-user hosts switched off: the machine's registration takes over.
  wine_reg({"add", kChromePolicies, "/v", "NativeMessagingUserLevelHosts", "/t", "REG_DWORD", "/d",
            "0", "/f"});
  const std::string ignored =
      "per-user hosts are switched off by policy: this registration is ignored; install per "
      "machine (msiexec ... ALLUSERS=1, or --all-users)";
  check_expecting(
      {"chrome: policy NativeMessagingUserLevelHosts 0 at " + kChromePolicies + ": " + ignored,
       "chrome: ignored by policy: " + user_entry, "chrome: registered at " + machine_entry,
       "verdict: OK"},
      0);
  ASSERT_EQ(register_tool({"uninstall", "--name", kName, "--all-users"}).status, 0);
  check_expecting({"verdict: FAILED: chrome: " + ignored}, 1);

  // A stale 32-bit entry is read before the 64-bit one and wins.
  wine_reg({"delete", kChromePolicies, "/f"});
  ASSERT_EQ(register_tool({"uninstall", "--name", kName}).status, 0);
  ASSERT_EQ(register_tool(all_users).status, 0);
  wine_reg({"add", kStaleChromeEntry, "/ve", "/d", "C:\\Old\\io.json", "/f"});
  check_expecting(
      {"chrome: registered at " + kStaleChromeEntry,
       "verdict: FAILED: chrome: remove " + kStaleChromeEntry +
           ": the browser uses it instead of the valid registration at " + machine_entry},
      1);

  // A blocklist of "*" stops the host unless the allowlist names it.
  wine_reg({"delete", kStaleChromeEntry, "/f"});
  wine_reg({"add", kChromePolicies + "\\NativeMessagingBlocklist", "/v", "1", "/d", "*", "/f"});
  check_expecting({"verdict: FAILED: chrome: the host is blocked by NativeMessagingBlocklist"}, 1);
  wine_reg({"add", kChromePolicies + "\\NativeMessagingAllowlist", "/v", "1", "/d", kName, "/f"});
  check_expecting(
      {"chrome: policy NativeMessagingAllowlist [\"" + kName + "\"] at " + kChromePolicies +
           "\\NativeMessagingAllowlist: allowed by "
           "NativeMessagingAllowlist",
       "verdict: OK"},
      0);
}

TEST_P(RegistryCheckTest, ValuesOfOtherTypesAreReadAsTheBrowsersConvertThem) {
  ASSERT_EQ(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "chrome",
                           "--all-users"})
                .status,
            0);
  // A per-user value that is no string is passed over, as the browser
  // passes it over, and told.
  wine_reg({"add", "HKCU\\" + chrome_key(), "/ve", "/t", "REG_DWORD", "/d", "1", "/f"});
  check_expecting({"chrome: passed over: HKCU\\" + chrome_key(),
                   "chrome: could not read HKCU\\" + chrome_key(), "verdict: OK"},
                  0);
  wine_reg({"delete", "HKCU\\" + chrome_key(), "/f"});

  // Only numbered values make up a list; a flag may be a numeric string.
  const std::string blocklist = kChromePolicies + "\\NativeMessagingBlocklist";
  wine_reg({"add", blocklist, "/v", "note", "/d", "*", "/f"});
  check_expecting({"chrome: policy NativeMessagingBlocklist [] at " + blocklist, "verdict: OK"}, 0);
  wine_reg({"add", kChromePolicies, "/v", "NativeMessagingUserLevelHosts", "/d", "0", "/f"});
  check_expecting({"chrome: policy NativeMessagingUserLevelHosts 0 at " + kChromePolicies}, 0);

  // AppLocker: an Exe collection without rules enforces nothing.
  wine_reg({"add", kAppLockerExe, "/v", "EnforcementMode", "/t", "REG_DWORD", "/d", "1", "/f"});
  const auto no_rules = check_expecting({"verdict: OK"}, 0);
  EXPECT_EQ(no_rules.output.find("AppLocker"), std::string::npos) << no_rules.output;
  wine_reg({"add", kAppLockerExe + "\\rule-1", "/v", "Value", "/d", "<FilePathRule/>", "/f"});
  check_expecting({"chrome: policy AppLocker at " + kAppLockerExe}, 0);
}

// However the registry value writes the manifest's folder, --json writes
// the user's folder as %LOCALAPPDATA%.
TEST_P(RegistryCheckTest, JsonNamesNoUserHoweverTheRegistryWritesThePath) {
  ASSERT_EQ(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "chrome"})
                .status,
            0);
  const fs::path local = host_log_dir().parent_path();
  const std::string user = local.parent_path().parent_path().filename().string();
  const std::string folder = "Tolvanik redaction check";
  fs::create_directories(local / folder);
  fs::copy_file(chrome_manifest(), local / folder / (kName + ".json"),
                fs::copy_options::overwrite_existing);
  const std::string local_form = "C:\\users\\" + user + "\\AppData\\Local\\";
  const std::string long_form = local_form + folder;
  // The short form as the command shell lists it.
  const auto listing = run_command({"wine", "cmd", "/c", "dir", "/x", local_form});
  std::string short_form;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.ends_with(" " + folder)) continue;
    std::istringstream columns(line.substr(0, line.size() - folder.size()));
    for (std::string column; columns >> column;) short_form = column;
    short_form = local_form + short_form;
  }
  ASSERT_NE(short_form.find('~'), std::string::npos) << listing.output;
  std::string slashes = long_form;
  std::ranges::replace(slashes, '\\', '/');
  std::string upper = long_form;
  std::ranges::transform(upper, upper.begin(), [](unsigned char c) { return std::toupper(c); });
  for (const std::string& written : {slashes, upper, short_form}) {
    wine_reg({"add", "HKCU\\" + chrome_key(), "/ve", "/d", written + "\\" + kName + ".json", "/f"});
    const auto run = register_tool({"check", "--name", kName, "--browser", "chrome", "--json"});
    const auto report = testing::json(run.output);
    EXPECT_EQ(text_at(report.root(), "browsers/0/entries/0/manifest").substr(0, 15),
              "\"%LOCALAPPDATA%")
        << written;
    std::string lower = run.output;
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_EQ(lower.find("users\\\\" + user), std::string::npos) << run.output;
    EXPECT_EQ(lower.find("users/" + user), std::string::npos) << run.output;
  }
  fs::remove_all(local / folder);
}

TEST_P(FolderCheckTest, FoldersAndPolicyFilesAsTheBrowsersReadThem) {
  ASSERT_EQ(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "chrome",
                           "--all-users"})
                .status,
            0);
  const fs::path system_manifest =
      system_root_ / "etc/opt/chrome/native-messaging-hosts" / (kName + ".json");
  ASSERT_TRUE(fs::exists(system_manifest));
  fs::create_directories(user_manifest("google-chrome").parent_path());
  std::ofstream(user_manifest("google-chrome")) << "{}";
  check_expecting({"chrome: registered at " + user_manifest("google-chrome").string(),
                   "chrome: the manifest is invalid: \"name\" is missing",
                   "verdict: FAILED: chrome: remove " + user_manifest("google-chrome").string() +
                       ": the browser uses it instead of the valid registration at " +
                       system_manifest.string()},
                  1);

  const fs::path policies = system_root_ / "etc/opt/chrome/policies/managed";
  fs::create_directories(policies);
  std::ofstream(policies / "a.json") << R"({"NativeMessagingUserLevelHosts": false})";
  check_expecting({"chrome: ignored by policy: " + user_manifest("google-chrome").string(),
                   "chrome: registered at " + system_manifest.string(), "verdict: OK"},
                  0);
  // The later file in name order wins.
  std::ofstream(policies / "b.json") << R"({"NativeMessagingBlocklist": ["*"]})";
  check_expecting(
      {"chrome: policy NativeMessagingBlocklist [\"*\"] at " + (policies / "b.json").string() +
       ": the host is blocked by NativeMessagingBlocklist"},
      1);
  // A later file's value of the wrong type leaves the policy unset.
  std::ofstream(policies / "c.json") << R"({"NativeMessagingBlocklist": "*"})";
  check_expecting({"verdict: OK"}, 0);
  fs::remove(policies / "c.json");

  // Firefox passes over an invalid manifest in its folders.
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--extension-id", kAddonId, "--all-users"}).status,
      0);
  fs::create_directories(firefox_manifest().parent_path());
  std::ofstream(firefox_manifest()) << "not json";
  check_expecting(
      {"firefox: passed over: " + firefox_manifest().string(),
       "firefox: registered at " +
           (system_root_ / "usr/lib/mozilla/native-messaging-hosts" / (kName + ".json")).string(),
       "firefox: ping answered"},
      1, "firefox,chrome");
}

TEST_P(RegisterCheckTest, StorageHealthIsReadWithoutTouchingTheFiles) {
  const std::string profile = target_path(work_dir() / "profile");
  const std::string backup = R"({"tolvanik_templates":[{"id":"a","name":"Zoë's blues"}]})";
  write_storage_file("{\"tolvanik_templates\":[");
  write_storage_file(backup, "storage.json.bak");
  write_storage_file("half", "storage.json.tmp");
  const auto alone = register_tool({"check", "--name", kName, "--profile", profile});
  EXPECT_EQ(alone.status, 1);
  EXPECT_NE(alone.output.find("storage: the file does NOT parse as a JSON object: the host reads "
                              "the backup storage.json.bak instead"),
            std::string::npos)
      << alone.output;
  EXPECT_NE(alone.output.find("storage: warning: a leftover storage.json.tmp"), std::string::npos);
  EXPECT_EQ(read_storage_file(), "{\"tolvanik_templates\":[");
  EXPECT_EQ(read_storage_file("storage.json.bak"), backup);
  EXPECT_EQ(read_storage_file("storage.json.tmp"), "half");
  EXPECT_FALSE(read_storage_file("storage.json.lock"));

  // A held lock is told within its 2 s, and the host is not asked.
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  write_storage_file(backup);
  auto holder = hold_storage_lock();
  const auto started = std::chrono::steady_clock::now();
  const auto held = register_tool({"check", "--name", kName, "--profile", profile});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
  EXPECT_EQ(held.status, 1);
  EXPECT_NE(held.output.find("verdict: FAILED: storage: the lock storage.json.lock is held by "
                             "another process (tried for 2 s)"),
            std::string::npos)
      << held.output;
  EXPECT_EQ(held.output.find("templates shown to the extension"), std::string::npos);
  holder->close_input();
  holder->wait_exit();
}

// With a host to ask, check still changes nothing: the host, asked for its
// status, would put the backup over the damaged file.
TEST_P(RegisterCheckTest, CheckOfAReachableHostKeepsEveryByteAndItsVerdict) {
  const std::string profile = target_path(work_dir() / "profile");
  const std::string backup = R"({"tolvanik_templates":[{"id":"a","name":"blues"}]})";
  // With no host to ask, the status reply is reckoned to the byte.
  write_storage_file(backup);
  const auto alone = register_tool({"check", "--name", kName, "--profile", profile, "--json"});
  const std::string reckoned = text_at(testing::json(alone.output).root(), "storage/statusBytes");
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  const std::string damaged = "{\"tolvanik_templates\":[";
  write_storage_file(damaged);
  write_storage_file(backup, "storage.json.bak");
  write_storage_file("half", "storage.json.tmp");
  for (int run = 0; run < 2; ++run) {
    const auto check = register_tool({"check", "--name", kName, "--profile", profile, "--json"});
    EXPECT_EQ(check.status, 1) << check.output;
    const auto report = testing::json(check.output);
    EXPECT_EQ(text_at(report.root(), "browsers/0/ping/answered"), "true");
    EXPECT_EQ(text_at(report.root(), "storage/parses"), "false");
    EXPECT_EQ(text_at(report.root(), "storage/readsBackup"), "true");
    EXPECT_EQ(text_at(report.root(), "storage/statusFrom"), "\"files\"");
    EXPECT_EQ(text_at(report.root(), "storage/shown"), "1");
    EXPECT_EQ(read_storage_file(), damaged);
    EXPECT_EQ(read_storage_file("storage.json.bak"), backup);
    EXPECT_EQ(read_storage_file("storage.json.tmp"), "half");
  }

  // A storage file the host reads as it is: the host itself is asked.
  write_storage_file(backup);
  const auto healthy = register_tool({"check", "--name", kName, "--profile", profile, "--json"});
  const auto report = testing::json(healthy.output);
  EXPECT_EQ(text_at(report.root(), "storage/statusFrom"), "\"host\"");
  EXPECT_EQ(text_at(report.root(), "storage/shown"), "1");
  EXPECT_EQ(text_at(report.root(), "storage/statusBytes"), reckoned);
  EXPECT_EQ(read_storage_file("storage.json.tmp"), "half");
}

// Firefox's 64-bit builds on systems with /usr/lib64 read the manifest there.
TEST_P(FolderCheckTest, FirefoxManifestInTheLib64FolderIsFound) {
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--extension-id", kAddonId, "--all-users"}).status,
      0);
  const fs::path lib = system_root_ / "usr/lib/mozilla/native-messaging-hosts" / (kName + ".json");
  const fs::path lib64 = system_root_ / "usr/lib64/mozilla/native-messaging-hosts" / lib.filename();
  fs::create_directories(lib64.parent_path());
  fs::rename(lib, lib64);
  check_expecting({"firefox: registered at " + lib64.string(), "verdict: OK"}, 0, "firefox");
}

TEST_P(FolderCheckTest, JsonWritesAHomeWithATrailingSlashAsTilde) {
  set_env("HOME", home_.string() + "/");
  ASSERT_EQ(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "chrome"})
                .status,
            0);
  const auto run = register_tool({"check", "--name", kName, "--browser", "chrome", "--json"});
  const auto report = testing::json(run.output);
  EXPECT_EQ(text_at(report.root(), "browsers/0/entries/0/manifest").substr(0, 3), "\"~/");
  EXPECT_EQ(run.output.find(home_.string()), std::string::npos) << run.output;
  // Without a registry, the environment switches the log.
  const auto text = register_tool({"check", "--name", kName, "--browser", "chrome"});
  EXPECT_NE(text.output.find("log: off; set TOLVANIK_HOST_LOG=1"), std::string::npos)
      << text.output;
}

// The log tells check's own host runs from the browser's, and the log
// command says why it cannot read the log.
TEST_P(RegisterCheckTest, TheLogTellsChecksHostRunsAndItsReadErrors) {
  fs::remove_all(host_log_dir());
  set_env("TOLVANIK_HOST_LOG", "1");
  const std::string profile = target_path(work_dir() / "profile");
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  register_tool({"check", "--name", kName, "--profile", profile});
  const std::string log = testing::read_file((host_log_dir() / "host.log").string());
  EXPECT_NE(log.find("tolvanik_register-check"), std::string::npos) << log;
  EXPECT_EQ(log.find(kOrigin), std::string::npos) << log;

  fs::remove_all(host_log_dir());
  fs::create_directories(host_log_dir() / "host.log");
  const auto shown = register_tool({"log"});
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.output.find("cannot be read"), std::string::npos) << shown.output;
  fs::remove_all(host_log_dir());
}

TEST_P(RegisterCheckTest, JsonReportCarriesTheFindingsButNoTemplateContentOrUserFolder) {
  // Natively the storage lies below HOME, to be written "~".
  if (!under_wine()) use_appdata(home_ / "appdata");
  set_env("TOLVANIK_HOST_LOG", "1");
  const std::string profile = target_path(work_dir() / "profile");
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  // Long names push the status reply past the browsers' limit.
  std::string templates;
  for (int i = 0; i < 2400; ++i) {
    templates += (i ? "," : "") + std::string(R"({"id":"secret-id-)") + std::to_string(i) +
                 R"(","name":"Zoë's blues )" + std::string(400, 'x') + R"(","deleted":)" +
                 (i < 10 ? "true" : "false") + "}";
  }
  write_storage_file(R"({"tolvanik_templates":[)" + templates + "]}");
  const auto run = register_tool({"check", "--name", kName, "--profile", profile, "--json"});
  EXPECT_EQ(run.status, 1);
  const auto report = testing::json(run.output);
  const JsonValue& root = report.root();
  EXPECT_EQ(text_at(root, "version"), "\"1.0.0\"");
  EXPECT_EQ(text_at(root, "ok"), "false");
  EXPECT_EQ(text_at(root, "browsers/0/browser"), "\"profile\"");
  EXPECT_EQ(text_at(root, "browsers/0/ok"), "true");
  EXPECT_EQ(text_at(root, "browsers/0/entries/0/used"), "true");
  EXPECT_EQ(text_at(root, "browsers/0/ping/answered"), "true");
  EXPECT_EQ(text_at(root, "storage/templates"), "2400");
  EXPECT_EQ(text_at(root, "storage/hidden"), "10");
  EXPECT_EQ(text_at(root, "storage/shown"), "2390");
  EXPECT_GT(std::stoul(text_at(root, "storage/statusBytes")), 1'048'576u);
  EXPECT_NE(text_at(root, "storage/problems/0").find("delete about "), std::string::npos);
  EXPECT_EQ(text_at(root, "log/on"), "true");
  const std::string log_path = text_at(root, "log/path");
  EXPECT_TRUE(log_path.ends_with(under_wine() ? R"(\\host.log")" : R"(/host.log")")) << log_path;
  if (under_wine()) {
    EXPECT_TRUE(log_path.starts_with("\"%LOCALAPPDATA%")) << log_path;
  }
  EXPECT_EQ(text_at(root, "storage/path").substr(0, under_wine() ? 10 : 3),
            under_wine() ? "\"%APPDATA%" : "\"~/");
  for (const std::string& secret :
       {std::string("Zoë"), std::string("secret-id"), home_.string(), std::string("C:\\\\users")}) {
    EXPECT_EQ(run.output.find(secret), std::string::npos) << secret << "\n" << run.output;
    EXPECT_EQ(testing::read_file((host_log_dir() / "host.log").string()).find(secret),
              std::string::npos)
        << secret;
  }
}

}  // namespace
}  // namespace tolvanik::blackbox
