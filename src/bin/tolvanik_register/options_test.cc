#include "bin/tolvanik_register/options.h"

#include <gtest/gtest.h>

namespace tolvanik::registration {
namespace {

const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";

std::expected<Options, std::string> parse(std::vector<std::string> arguments) {
  return parse_options(arguments);
}

TEST(HostName, FollowsTheBrowsersRule) {
  for (const char* good : {"io.tolvanik.host", "a", "host_2", "a.b_c.d9"}) {
    EXPECT_TRUE(is_valid_host_name(good)) << good;
  }
  for (const char* bad : {"", "Io.tolvanik", ".a", "a.", "a..b", "a-b", "a b", "a/b", "é"}) {
    EXPECT_FALSE(is_valid_host_name(bad)) << bad;
  }
}

TEST(Origin, NeedsTheSchemeThirtyTwoLettersAToPAndTheSlash) {
  EXPECT_TRUE(is_valid_origin(kOrigin));
  for (const char* bad : {
           "chrome-extension://abcdefghijklmnopabcdefghijklmnop",    // no slash
           "chrome-extension://abcdefghijklmnopabcdefghijklmnoq/",   // q
           "chrome-extension://abcdefghijklmnopabcdefghijklmno/",    // 31
           "chrome-extension://abcdefghijklmnopabcdefghijklmnopa/",  // 33
           "chrome-extension://ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP/",   // upper case
           "chrome-extension://*/",
           "https://abcdefghijklmnopabcdefghijklmnop/",
       }) {
    EXPECT_FALSE(is_valid_origin(bad)) << bad;
  }
}

TEST(AddonId, IsAddressLikeOrABracedGuid) {
  for (const char* good : {"tester@tolvanik.example", "@x", "a.b-c_d@e.f", "name@localhost",
                           "{12345678-9abc-DEF0-1234-56789abcdef0}"}) {
    EXPECT_TRUE(is_valid_addon_id(good)) << good;
  }
  for (const char* bad :
       {"", "tester", "tester@", "a@b@c", "a b@c", "ü@x", "{12345678-9abc-def0-1234-56789abcdef}",
        "12345678-9abc-def0-1234-56789abcdef0", "{12345678-9abc-def0-1234x56789abcdef0}",
        "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}) {
    EXPECT_FALSE(is_valid_addon_id(bad)) << bad;
  }
}

TEST(ParseOptions, InstallRegistersTheBrowsersWhoseIdentityItHas) {
  const auto browser_ids = [](const Options& options) {
    std::vector<std::string_view> ids;
    for (const Browser* browser : options.browsers) ids.push_back(browser->id);
    return ids;
  };
  const auto firefox_only = parse({"install", "--extension-id", "a@b", "--extension-id=c@d"});
  ASSERT_TRUE(firefox_only) << firefox_only.error();
  EXPECT_EQ(browser_ids(*firefox_only), std::vector<std::string_view>{"firefox"});
  EXPECT_EQ(firefox_only->allowed.at(&kFirefoxFamily), (std::vector<std::string>{"a@b", "c@d"}));

  const auto chromium_only = parse({"install", "--origin", kOrigin});
  ASSERT_TRUE(chromium_only) << chromium_only.error();
  EXPECT_EQ(browser_ids(*chromium_only),
            (std::vector<std::string_view>{"chrome", "edge", "chromium", "brave", "vivaldi"}));

  const auto both = parse({"install", "--origin", kOrigin, "--extension-id", "a@b"});
  ASSERT_TRUE(both) << both.error();
  EXPECT_EQ(both->browsers.size(), all_browsers().size());

  // uninstall and check look at every browser.
  EXPECT_EQ(parse({"uninstall"})->browsers.size(), all_browsers().size());
}

TEST(ParseOptions, InstallTakesEveryOptionInBothForms) {
  const auto options = parse({"install", "--origin", kOrigin, "--origin=" + kOrigin, "--name=a.b",
                              "--browser", "edge,chrome,edge", "--all-users", "--host", "h"});
  ASSERT_TRUE(options) << options.error();
  EXPECT_EQ(options->action, Action::kInstall);
  EXPECT_EQ(options->allowed.at(&kChromiumFamily).size(), 2u);
  EXPECT_EQ(options->name, "a.b");
  ASSERT_EQ(options->browsers.size(), 2u);
  EXPECT_EQ(options->browsers[0]->id, "edge");
  EXPECT_EQ(options->browsers[1]->id, "chrome");
  EXPECT_TRUE(options->all_users);
  EXPECT_EQ(options->host, "h");
}

TEST(ParseOptions, DefaultsToEveryBrowserAndTheDefaultName) {
  const auto options = parse({"check"});
  ASSERT_TRUE(options) << options.error();
  EXPECT_EQ(options->name, "io.tolvanik.host");
  EXPECT_EQ(options->browsers.size(), all_browsers().size());
  EXPECT_FALSE(options->profile);
}

TEST(ParseOptions, RefusesWithAMessageNamingWhatToFix) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{}, "no command"},
      {{"register"}, "unknown command \"register\""},
      {{"install"}, "install needs --origin"},
      {{"install", "--origin", "chrome-extension://x/"}, "invalid --origin"},
      {{"install", "--origin", kOrigin, "--name", "Bad"}, "invalid --name \"Bad\""},
      {{"install", "--origin", kOrigin, "--browser", "chrome,safari"},
       "unknown browser \"safari\""},
      {{"install", "--extension-id", "tester"}, "invalid --extension-id \"tester\""},
      {{"install", "--origin", kOrigin, "--browser", "chrome,firefox"},
       "--browser firefox needs --extension-id"},
      {{"install", "--extension-id", "a@b", "--browser", "firefox,edge"},
       "--browser edge needs --origin"},
      {{"install", "--extension-id", "a@b", "--origin", kOrigin, "--profile", "p"},
       "--extension-id and --profile exclude each other"},
      {{"uninstall", "--extension-id", "a@b"}, "unexpected argument \"--extension-id\""},
      {{"install", "--origin", kOrigin, "--browser", ""}, "unknown browser \"\""},
      {{"install", "--origin"}, "--origin needs a value"},
      {{"install", "--origin", kOrigin, "--profile", "p", "--all-users"}, "exclude each other"},
      {{"install", "--origin", kOrigin, "--profile", "p", "--browser", "chrome"},
       "exclude each other"},
      {{"install", "--origin", kOrigin, "--all-users=yes"}, "--all-users takes no value"},
      {{"uninstall", "--origin", kOrigin}, "unexpected argument \"--origin\""},
      {{"uninstall", "--host", "h"}, "unexpected argument \"--host\""},
      {{"check", "--all-users"}, "unexpected argument \"--all-users\""},
      {{"--version", "extra"}, "unexpected argument \"extra\""},
      {{"install", "--origin", kOrigin, "stray"}, "unexpected argument \"stray\""},
  };
  for (const auto& [arguments, message] : cases) {
    const auto options = parse(arguments);
    ASSERT_FALSE(options) << testing::PrintToString(arguments);
    EXPECT_NE(options.error().find(message), std::string::npos) << options.error();
    EXPECT_EQ(options.error().find('\n'), std::string::npos) << options.error();
  }
}

}  // namespace
}  // namespace tolvanik::registration
