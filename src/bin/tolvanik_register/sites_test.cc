#include "bin/tolvanik_register/sites.h"

#include <gtest/gtest.h>

namespace tolvanik::registration {
namespace {

Options options_for(std::vector<std::string_view> browsers, bool all_users = false) {
  Options options;
  options.name = "io.tolvanik.host";
  options.all_users = all_users;
  for (const auto id : browsers) options.browsers.push_back(find_browser(id));
  return options;
}

TEST(RegistrationSites, OnWindowsShareOneManifestBesideTheHostAndOneKeyPerBrowserKey) {
  const SiteBase base{true, true, '\\', "C:\\Tolvanik", "", "", {}};
  const auto sites = registration_sites(options_for({"chrome", "edge", "vivaldi"}), base);
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_EQ(sites[0].browsers, "chrome, vivaldi");
  EXPECT_EQ(sites[0].manifest_path, "C:\\Tolvanik\\io.tolvanik.host.json");
  ASSERT_TRUE(sites[0].registry);
  EXPECT_EQ(registry_path_text(*sites[0].registry),
            "HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\io.tolvanik.host");
  EXPECT_EQ(sites[1].manifest_path, sites[0].manifest_path);

  const auto machine = registration_sites(options_for({"edge"}, true), base);
  ASSERT_EQ(machine.size(), 1u);
  EXPECT_EQ(registry_path_text(*machine[0].registry),
            "HKLM\\Software\\Microsoft\\Edge\\NativeMessagingHosts\\io.tolvanik.host");
}

TEST(RegistrationSites, OnLinuxAreOneManifestPerBrowserFolder) {
  const SiteBase base{false, false, '/', "/opt/t", "/home/u", "", {}};
  const auto user = registration_sites(options_for({"chromium", "brave"}), base);
  ASSERT_EQ(user.size(), 2u);
  EXPECT_EQ(user[0].manifest_path,
            "/home/u/.config/chromium/NativeMessagingHosts/io.tolvanik.host.json");
  EXPECT_EQ(
      user[1].manifest_path,
      "/home/u/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts/io.tolvanik.host.json");
  EXPECT_FALSE(user[0].registry);
  const auto system = registration_sites(options_for({"chrome"}, true), base);
  EXPECT_EQ(system[0].manifest_path,
            "/etc/opt/chrome/native-messaging-hosts/io.tolvanik.host.json");
}

TEST(RegistrationSites, FirefoxGetsAManifestOfItsOwnThatNoChromiumSiteShares) {
  const auto windows = registration_sites(options_for({"chrome", "firefox"}, true),
                                          SiteBase{true, true, '\\', "C:\\Tolvanik", "", "", {}});
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[1].browsers, "firefox");
  EXPECT_EQ(windows[1].family, &kFirefoxFamily);
  EXPECT_EQ(windows[1].manifest_path, "C:\\Tolvanik\\io.tolvanik.host.firefox.json");
  EXPECT_EQ(registry_path_text(*windows[1].registry),
            "HKLM\\Software\\Mozilla\\NativeMessagingHosts\\io.tolvanik.host");
  EXPECT_EQ(windows[0].manifest_path, "C:\\Tolvanik\\io.tolvanik.host.json");

  const SiteBase linux_base{false, false, '/', "/opt/t", "/home/u", "", {}};
  EXPECT_EQ(registration_sites(options_for({"firefox"}), linux_base)[0].manifest_path,
            "/home/u/.mozilla/native-messaging-hosts/io.tolvanik.host.json");
  EXPECT_EQ(registration_sites(options_for({"firefox"}, true), linux_base)[0].manifest_path,
            "/usr/lib/mozilla/native-messaging-hosts/io.tolvanik.host.json");
}

TEST(RegistrationSites, AProfileIsTheOnlySiteAndNeedsNoRegistry) {
  Options options = options_for({"chrome", "edge"});
  options.profile = "D:\\p";
  const auto sites = registration_sites(options, SiteBase{true, true, '\\', "C:\\T", "", "", {}});
  ASSERT_EQ(sites.size(), 1u);
  EXPECT_EQ(sites[0].manifest_path, "D:\\p\\NativeMessagingHosts\\io.tolvanik.host.json");
  EXPECT_FALSE(sites[0].registry);
}

TEST(DirectoryOf, TakesWindowsSeparatorsOnlyWhereTheyAreSeparators) {
  EXPECT_EQ(directory_of("C:\\a/b\\host.exe", '\\'), "C:\\a/b");
  EXPECT_EQ(directory_of("C:/a/host.exe", '\\'), "C:/a");
  EXPECT_EQ(directory_of("/a\\b/host", '/'), "/a\\b");
}

}  // namespace
}  // namespace tolvanik::registration
