#include "bin/tolvanik_register/check.h"

#include <gtest/gtest.h>

#include "bin/tolvanik_register/host_run.h"

namespace tolvanik::registration {
namespace {

const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";

Manifest good_manifest() {
  return {&kChromiumFamily, "io.tolvanik.host", "d", "C:\\T\\tolvanik_host.exe",
          "stdio",          {kOrigin}};
}

TEST(Manifest, TextReadsBackWithNonAsciiAndEscapedCharacters) {
  Manifest manifest = good_manifest();
  manifest.path = "C:\\Users\\Zoë \"Z\"\\tolvanik_host.exe";
  manifest.allowed.push_back(kOrigin);
  const std::string text = manifest_text(manifest);
  EXPECT_TRUE(text.ends_with("}\n"));
  const auto read = read_manifest(text, kChromiumFamily);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->path, manifest.path);
  EXPECT_EQ(read->allowed, manifest.allowed);
  EXPECT_EQ(read->type, "stdio");
}

TEST(Manifest, ReadingNamesTheMissingOrMistypedField) {
  EXPECT_EQ(read_manifest("[]", kChromiumFamily).error(), "not a JSON object");
  EXPECT_EQ(read_manifest("{\"name\":1}", kChromiumFamily).error(),
            "\"name\" is missing or not a string");
  EXPECT_EQ(
      read_manifest(R"({"name":"a","description":"","path":"/h","type":"stdio"})", kChromiumFamily)
          .error(),
      "\"allowed_origins\" is missing or not a list");
}

TEST(ManifestProblems, NoneForAGoodManifestOnEitherSystem) {
  EXPECT_TRUE(manifest_problems(good_manifest(), "io.tolvanik.host", true).empty());
  Manifest posix = good_manifest();
  posix.path = "/opt/t/tolvanik_host";
  EXPECT_TRUE(manifest_problems(posix, "io.tolvanik.host", true).empty());
}

TEST(ManifestProblems, FindsEachFaultTheBrowserRejects) {
  Manifest manifest = good_manifest();
  manifest.name = "other";
  manifest.type = "socket";
  manifest.allowed = {"chrome-extension://*/"};
  const auto problems = manifest_problems(manifest, "io.tolvanik.host", false);
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems[0], "\"name\" is \"other\", not \"io.tolvanik.host\"");
  EXPECT_EQ(problems[1], "\"type\" is not \"stdio\"");
  EXPECT_EQ(problems[2], "\"path\" C:\\T\\tolvanik_host.exe does not exist");
  EXPECT_EQ(problems[3], "origin \"chrome-extension://*/\" is malformed");

  manifest = good_manifest();
  manifest.path = "tolvanik_host.exe";
  manifest.allowed.clear();
  const auto relative = manifest_problems(manifest, "io.tolvanik.host", true);
  ASSERT_EQ(relative.size(), 2u);
  EXPECT_EQ(relative[0], "\"path\" tolvanik_host.exe is not absolute");
  EXPECT_EQ(relative[1], "\"allowed_origins\" is empty");
}

TEST(Manifest, FirefoxGetsItsOwnListAndRefusesTheOriginList) {
  Manifest manifest = good_manifest();
  manifest.family = &kFirefoxFamily;
  manifest.allowed = {"tester@tolvanik.example"};
  const std::string text = manifest_text(manifest);
  EXPECT_EQ(text.find("allowed_origins"), std::string::npos) << text;
  const auto read = read_manifest(text, kFirefoxFamily);
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->allowed, manifest.allowed);
  EXPECT_EQ(read->family, &kFirefoxFamily);
  EXPECT_TRUE(manifest_problems(*read, "io.tolvanik.host", true).empty());

  const std::string chromium_text = manifest_text(good_manifest());
  EXPECT_EQ(chromium_text.find("allowed_extensions"), std::string::npos);
  EXPECT_EQ(read_manifest(chromium_text, kFirefoxFamily).error(),
            "it has \"allowed_origins\", which Firefox refuses");
  EXPECT_EQ(
      read_manifest(R"({"name":"a","description":"","path":"/h","type":"stdio"})", kFirefoxFamily)
          .error(),
      "\"allowed_extensions\" is missing or not a list");

  manifest.allowed = {"no-at-sign"};
  EXPECT_EQ(manifest_problems(manifest, "io.tolvanik.host", true),
            std::vector<std::string>{"add-on id \"no-at-sign\" is malformed"});
  manifest.allowed.clear();
  EXPECT_EQ(manifest_problems(manifest, "io.tolvanik.host", true),
            std::vector<std::string>{"\"allowed_extensions\" is empty"});
}

TEST(ManifestProblems, RelativeHostIsTakenFromTheManifestFolderOnWindowsOnly) {
  const std::string manifest_path = "C:\\Programs\\Tolvanik Host\\io.tolvanik.host.json";
  EXPECT_EQ(host_seen_by_browser("tolvanik_host.exe", manifest_path, true),
            "C:\\Programs\\Tolvanik Host\\tolvanik_host.exe");
  EXPECT_EQ(host_seen_by_browser("bin\\tolvanik_host.exe", manifest_path, true),
            "C:\\Programs\\Tolvanik Host\\bin\\tolvanik_host.exe");
  EXPECT_EQ(host_seen_by_browser("D:\\T\\tolvanik_host.exe", manifest_path, true),
            "D:\\T\\tolvanik_host.exe");

  Manifest posix = good_manifest();
  posix.path =
      host_seen_by_browser("tolvanik_host", "/home/u/.config/c/io.tolvanik.host.json", false);
  EXPECT_EQ(posix.path, "tolvanik_host");
  EXPECT_EQ(manifest_problems(posix, "io.tolvanik.host", true).front(),
            "\"path\" tolvanik_host is not absolute");
}

TEST(FirstFramePayload, TakesOneWholeFrameOnly) {
  EXPECT_EQ(first_frame_payload(std::string("\x02\0\0\0{}\x01", 7)), "{}");
  EXPECT_EQ(first_frame_payload(std::string("\x03\0\0\0{}", 6)), std::nullopt);
  EXPECT_EQ(first_frame_payload(std::string("\x02\0\0", 3)), std::nullopt);
  EXPECT_EQ(first_frame_payload(std::string("\0\0\0\x80", 4)), std::nullopt);
}

TEST(StatusReply, GivesTheTemplateCountAndTheDesktopState) {
  const auto facts = read_status_reply(R"({"isRunning":true,"templates":[{},{}],"type":"status"})");
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->templates, 2u);
  EXPECT_TRUE(facts->desktop_running);
  EXPECT_FALSE(read_status_reply(R"({"type":"status"})"));
  EXPECT_EQ(reply_type(R"({"type":"pong"})"), "pong");
  EXPECT_EQ(reply_type("no json"), std::nullopt);
}

Entry found_at(std::string where, Scope scope, EntryRole role, bool valid) {
  Entry entry;
  entry.scope = scope;
  entry.where = std::move(where);
  entry.role = role;
  if (!valid) entry.problems.push_back("cannot read the manifest: gone");
  return entry;
}

TEST(JudgeBrowser, AStaleEntryThatWinsFailsAndNamesWhatToRemove) {
  BrowserFindings chrome;
  chrome.entries = {
      found_at("HKLM\\Software\\WOW6432Node\\X", Scope::kMachine, EntryRole::kUsed, false),
      found_at("HKLM\\Software\\X", Scope::kMachine, EntryRole::kShadowed, true)};
  judge_browser(chrome);
  EXPECT_EQ(chrome.problems,
            (std::vector<std::string>{"remove HKLM\\Software\\WOW6432Node\\X: the browser uses it "
                                      "instead of the valid registration at HKLM\\Software\\X",
                                      "cannot read the manifest: gone"}));

  BrowserFindings answering;
  answering.entries = {found_at("HKCU\\X", Scope::kUser, EntryRole::kUsed, true)};
  answering.ping = PingFinding{true, R"({"type":"pong"})", 5, ""};
  judge_browser(answering);
  EXPECT_TRUE(answering.reaches_host());
  answering.ping->reply = R"({"type":"error"})";
  judge_browser(answering);
  EXPECT_EQ(answering.problems, std::vector<std::string>{"the host answered no pong"});
}

TEST(JudgeBrowser, APolicyFailsTheBrowserWhateverTheHostAnswers) {
  const PolicyOutcome off = weigh_policies(
      {{std::string(kUserLevelHostsPolicy), Scope::kMachine, "HKLM\\P", false, ""}}, "h", true);
  BrowserFindings per_user;
  per_user.entries = {found_at("HKCU\\X", Scope::kUser, EntryRole::kIgnored, true)};
  per_user.policies = off.findings;
  judge_browser(per_user);
  EXPECT_EQ(per_user.problems, std::vector<std::string>{off.findings[0].effect});

  BrowserFindings blocked;
  blocked.entries = {found_at("HKCU\\X", Scope::kUser, EntryRole::kUsed, true)};
  blocked.policies = {{"NativeMessagingBlocklist", "HKLM\\P", "[\"*\"]",
                       "the host is blocked by NativeMessagingBlocklist", true}};
  blocked.ping = PingFinding{true, R"({"type":"pong"})", 5, ""};
  judge_browser(blocked);
  EXPECT_FALSE(blocked.reaches_host());
  EXPECT_EQ(blocked.problems.front(), "the host is blocked by NativeMessagingBlocklist");
}

TEST(WithoutUserFolders, WritesEachFolderInItsGeneralFormOnlyWholeAndInnermostFirst) {
  const std::vector<UserFolder> folders = {{"C:\\Users\\Zoë\\AppData\\Local", "%LOCALAPPDATA%"},
                                           {"C:\\Users\\Zoë", "%USERPROFILE%"},
                                           {"/home/zoe", "~"}};
  EXPECT_EQ(
      without_user_folders("c:\\users\\Zoë\\AppData\\Local\\T\\h.exe does not exist", folders),
      "%LOCALAPPDATA%\\T\\h.exe does not exist");
  EXPECT_EQ(without_user_folders("C:\\Users\\Zoë\\x.json, C:\\Users\\Zoë2\\y", folders),
            "%USERPROFILE%\\x.json, C:\\Users\\Zoë2\\y");
  EXPECT_EQ(without_user_folders("/home/zoe/.config and /home/zoey and x/home/zoe", folders),
            "~/.config and /home/zoey and x/home/zoe");
}

TEST(WithoutUserFolders, MatchesAnySeparatorCaseAndWhatFollowsTheFolder) {
  const std::vector<UserFolder> folders = {{"C:\\Users\\Zoe\\AppData\\Roaming", "%APPDATA%"},
                                           {"C:\\Users\\ZOE~1", "%USERPROFILE%"}};
  EXPECT_EQ(without_user_folders("C:/users/zoe/appdata/roaming/h.json", folders),
            "%APPDATA%/h.json");
  EXPECT_EQ(without_user_folders("C:\\\\Users\\\\Zoe\\AppData/Roaming\\", folders), "%APPDATA%\\");
  EXPECT_EQ(
      without_user_folders("(C:\\Users\\ZOE~1), C:\\Users\\zoe~1; C:\\Users\\ZOE~1:", folders),
      "(%USERPROFILE%), %USERPROFILE%; %USERPROFILE%:");
  EXPECT_EQ(without_user_folders("C:\\Users\\ZOE~12 C:\\Users\\ZOE~1.old", folders),
            "C:\\Users\\ZOE~12 C:\\Users\\ZOE~1.old");
}

}  // namespace
}  // namespace tolvanik::registration
