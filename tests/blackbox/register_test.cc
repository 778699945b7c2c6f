// tolvanik_register seen from outside: what install writes, what uninstall
// removes, every refusal leaving nothing behind, and check against the real
// host. Natively the browsers' folders lie below a temporary HOME; under Wine
// the keys go into the Wine prefix's registry.

#include "register_fixture.h"

namespace tolvanik::blackbox {
namespace {

TOLVANIK_BLACKBOX_TARGETS(RegisterTest);

TEST_P(RegisterTest, InstallWritesTheManifestAndUninstallRemovesExactlyThat) {
  const auto installed =
      register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "edge,chrome"});
  ASSERT_EQ(installed.status, 0) << installed.errors;
  std::vector<fs::path> manifests;
  if (under_wine()) {
    const fs::path manifest = work_dir() / (kName + ".json");
    EXPECT_EQ(registry_default(chrome_key()), target_path(manifest));
    EXPECT_EQ(registry_default(edge_key()), target_path(manifest));
    EXPECT_EQ(registry_default("Software\\Chromium\\NativeMessagingHosts\\" + kName), std::nullopt);
    manifests = {manifest};
  } else {
    manifests = {user_manifest("microsoft-edge"), user_manifest("google-chrome")};
    EXPECT_FALSE(fs::exists(user_manifest("chromium")));
    // A neighbour in the same folder is none of the tool's business.
    std::ofstream(manifests[0].parent_path() / "other.host.json") << "{}";
  }
  JsonArena arena;
  const JsonValue origins[] = {JsonValue::string(kOrigin)};
  const std::string expected =
      to_compact_json(arena.object({{"name", JsonValue::string(kName)},
                                    {"description", JsonValue::string("Tolvanik desktop bridge")},
                                    {"path", JsonValue::string(host_path())},
                                    {"type", JsonValue::string("stdio")},
                                    {"allowed_origins", JsonValue::array(origins)}}));
  for (const auto& manifest : manifests) EXPECT_EQ(read_json(manifest), expected) << manifest;

  const auto checked = register_tool({"check", "--name", kName, "--browser", "edge,chrome"});
  EXPECT_EQ(checked.status, 0) << checked.output;
  EXPECT_NE(checked.output.find("verdict: OK: the host answers for edge, chrome"),
            std::string::npos)
      << checked.output;

  for (int round = 0; round < 2; ++round) {
    const auto removed = register_tool({"uninstall", "--name", kName, "--browser", "edge,chrome"});
    EXPECT_EQ(removed.status, 0) << removed.errors;
    for (const auto& manifest : manifests) EXPECT_FALSE(fs::exists(manifest)) << manifest;
  }
  if (under_wine()) {
    EXPECT_EQ(registry_default(chrome_key()), std::nullopt);
    EXPECT_EQ(registry_default(edge_key()), std::nullopt);
  } else {
    EXPECT_TRUE(fs::exists(manifests[0].parent_path() / "other.host.json"));
  }
}

TEST_P(RegisterTest, FirefoxGetsAManifestOfItsOwnAndCheckStartsTheHostAsFirefoxDoes) {
  const auto installed =
      register_tool({"install", "--name", kName, "--origin", kOrigin, "--extension-id", kAddonId});
  ASSERT_EQ(installed.status, 0) << installed.errors;
  if (under_wine()) {
    EXPECT_EQ(registry_default(firefox_key()), target_path(firefox_manifest()));
    EXPECT_EQ(registry_default(chrome_key()), target_path(chrome_manifest()));
  }
  JsonArena arena;
  const JsonValue ids[] = {JsonValue::string(kAddonId)};
  EXPECT_EQ(
      read_json(firefox_manifest()),
      to_compact_json(arena.object({{"name", JsonValue::string(kName)},
                                    {"description", JsonValue::string("Tolvanik desktop bridge")},
                                    {"path", JsonValue::string(host_path())},
                                    {"type", JsonValue::string("stdio")},
                                    {"allowed_extensions", JsonValue::array(ids)}})));
  EXPECT_EQ(read_json(chrome_manifest(), "allowed_origins"), "[\"" + kOrigin + "\"]");

  // Firefox runs the host from its own working directory with the
  // manifest's path and the add-on id as arguments.
  const auto checked = register_tool({"check", "--name", kName, "--browser", "firefox,chrome"});
  EXPECT_EQ(checked.status, 0) << checked.output << checked.errors;
  for (const std::string& line : std::vector<std::string>{
           "firefox: manifest valid; host " + host_path(),
           "firefox: ping answered " + pong_payload(),
           "verdict: OK: the host answers for firefox, chrome",
       }) {
    EXPECT_NE(checked.output.find(line), std::string::npos) << line << "\n" << checked.output;
  }

  ASSERT_EQ(register_tool({"uninstall", "--name", kName, "--browser", "firefox"}).status, 0);
  EXPECT_FALSE(fs::exists(firefox_manifest()));
  EXPECT_TRUE(fs::exists(chrome_manifest()));
  if (under_wine()) {
    EXPECT_EQ(registry_default(firefox_key()), std::nullopt);
    EXPECT_TRUE(registry_default(chrome_key()));
  }

  // A manifest listing origins is one Firefox refuses.
  const auto text = [&] {
    std::ifstream file(chrome_manifest(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }();
  ASSERT_EQ(register_tool({"install", "--name", kName, "--extension-id", kAddonId}).status, 0);
  std::ofstream(firefox_manifest(), std::ios::binary) << text;
  const auto refused = register_tool({"check", "--name", kName, "--browser", "firefox"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("firefox: the manifest is invalid: it has \"allowed_origins\""),
            std::string::npos)
      << refused.output;
}

TEST_P(RegisterTest, UninstallingOneBrowserKeepsWhatTheOthersStillUse) {
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "edge,chrome"})
          .status,
      0);
  ASSERT_EQ(register_tool({"uninstall", "--name", kName, "--browser", "edge"}).status, 0);
  if (under_wine()) {
    // Both keys named the one manifest beside the host.
    EXPECT_EQ(registry_default(edge_key()), std::nullopt);
    EXPECT_TRUE(registry_default(chrome_key()));
    EXPECT_TRUE(fs::exists(work_dir() / (kName + ".json")));
  } else {
    EXPECT_FALSE(fs::exists(user_manifest("microsoft-edge")));
    EXPECT_TRUE(fs::exists(user_manifest("google-chrome")));
  }
}

TEST_P(RegisterTest, AProfileGetsOnlyItsOwnManifestAndASecondInstallReplacesIt) {
  const std::string profile = target_path(work_dir() / "profile");
  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  const auto again =
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOtherOrigin});
  ASSERT_EQ(again.status, 0) << again.errors;
  EXPECT_EQ(read_json(profile_manifest(), "allowed_origins"), "[\"" + kOtherOrigin + "\"]");
  EXPECT_EQ(written_files(), std::vector<fs::path>{profile_manifest()});
  if (under_wine()) {
    EXPECT_EQ(registry_default(chrome_key()), std::nullopt);
  }

  ASSERT_EQ(register_tool({"uninstall", "--name", kName, "--profile", profile}).status, 0);
  EXPECT_EQ(written_files(), std::vector<fs::path>{});
}

TEST_P(RegisterTest, EveryRefusalNamesWhatToFixAndWritesNothing) {
  const std::string profile = target_path(work_dir() / "profile");
  expect_refused(register_tool({"install", "--name", kName, "--origin", "chrome-extension://x/"}),
                 "invalid --origin");
  expect_refused(register_tool({"install", "--name", "Io.Tolvanik", "--origin", kOrigin}),
                 "invalid --name");
  expect_refused(register_tool({"install", "--name", kName, "--origin", kOrigin, "--host",
                                target_path(work_dir() / "missing_host")}),
                 "no tolvanik_host at");
  expect_refused(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser", "x"}),
                 "unknown browser");
  expect_refused(register_tool({"frobnicate"}), "unknown command");
  expect_refused(register_tool({"install", "--name", kName, "--extension-id", "tester"}),
                 "invalid --extension-id");
  expect_refused(register_tool({"install", "--name", kName, "--origin", kOrigin, "--browser",
                                "chrome,firefox"}),
                 "--browser firefox needs --extension-id");
  // A file where the profile's folder would go.
  std::ofstream(work_dir() / "blocked") << "";
  expect_refused(register_tool({"install", "--name", kName, "--origin", kOrigin, "--profile",
                                target_path(work_dir() / "blocked")}),
                 "cannot create the folder");
  EXPECT_EQ(written_files(), std::vector<fs::path>{});
  if (under_wine()) {
    EXPECT_EQ(registry_default(chrome_key()), std::nullopt);
    EXPECT_EQ(registry_default(firefox_key()), std::nullopt);
  }
}

TEST_P(RegisterTest, AFailedInstallTakesBackWhatItHadWritten) {
  if (under_wine()) {
    // The manifest cannot be written, so no key may point at it.
    fs::create_directory(work_dir() / (kName + ".json.tmp"));
    expect_refused(register_tool({"install", "--name", kName, "--origin", kOrigin}),
                   "cannot write");
    EXPECT_EQ(registry_default(chrome_key()), std::nullopt);
    EXPECT_FALSE(fs::exists(work_dir() / (kName + ".json")));
    return;
  }
  // The second browser's folder cannot be made; the first's manifest goes.
  fs::create_directories(home_ / ".config");
  std::ofstream(home_ / ".config" / "google-chrome") << "in the way";
  const auto run = register_tool(
      {"install", "--name", kName, "--origin", kOrigin, "--browser", "chromium,chrome"});
  expect_refused(run, "cannot create the folder");
  EXPECT_FALSE(fs::exists(user_manifest("chromium")));
}

TEST_P(RegisterTest, CheckStartsTheRegisteredHostAndReportsTheStorage) {
  const std::string profile = target_path(work_dir() / "profile");
  const auto missing = register_tool({"check", "--name", kName, "--profile", profile});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("profile: not registered"), std::string::npos) << missing.output;
  EXPECT_NE(missing.output.find("verdict: FAILED"), std::string::npos) << missing.output;

  ASSERT_EQ(
      register_tool({"install", "--name", kName, "--profile", profile, "--origin", kOrigin}).status,
      0);
  write_storage_file(R"({"tolvanik_templates":[{"id":"a","deleted":true},{"id":"b"},{"id":"c"}]})");
  set_running({"Tolvanik.exe"});
  const auto checked = register_tool({"check", "--name", kName, "--profile", profile});
  EXPECT_EQ(checked.status, 0) << checked.output << checked.errors;
  for (const std::string& line : std::vector<std::string>{
           "profile: manifest valid; host " + host_path(),
           "profile: ping answered " + pong_payload() + " in ",
           "storage: the file parses",
           "storage: 2 templates shown to the extension",
           "desktop application: running",
           "verdict: OK: the host answers for profile",
       }) {
    EXPECT_NE(checked.output.find(line), std::string::npos) << line << "\n" << checked.output;
  }

  fs::remove(work_dir() / (under_wine() ? "tolvanik_host.exe" : "tolvanik_host"));
  const auto gone = register_tool({"check", "--name", kName, "--profile", profile});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.output.find("does not exist"), std::string::npos) << gone.output;
}

TEST_P(RegisterTest, VersionAndHelp) {
  const auto version = register_tool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.substr(0, version.output.find_first_of("\r\n")),
            "tolvanik_register 1.0.0");
  const auto help = register_tool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("tolvanik_register install --origin"), std::string::npos);
  EXPECT_NE(help.output.find("tolvanik_register install --extension-id"), std::string::npos);
}

}  // namespace
}  // namespace tolvanik::blackbox
