#include "bin/tolvanik_register/lookup.h"

#include <gtest/gtest.h>

namespace tolvanik::registration {
namespace {

std::vector<std::string> texts_of(const std::vector<LookupPlace>& places) {
  std::vector<std::string> texts;
  for (const LookupPlace& place : places) texts.push_back(place_text(place));
  return texts;
}

TEST(LookupPlaces, FollowEachBrowsersOwnOrderOnWindows) {
  SiteBase windows;
  windows.uses_registry = true;
  const std::string hosts = "\\NativeMessagingHosts\\io.tolvanik.host";
  EXPECT_EQ(texts_of(lookup_places(*find_browser("edge"), "io.tolvanik.host", windows)),
            (std::vector<std::string>{
                "HKCU\\Software\\Microsoft\\Edge" + hosts,
                "HKCU\\Software\\Chromium" + hosts,
                "HKCU\\Software\\Google\\Chrome" + hosts,
                "HKLM\\Software\\WOW6432Node\\Microsoft\\Edge" + hosts,
                "HKLM\\Software\\WOW6432Node\\Chromium" + hosts,
                "HKLM\\Software\\WOW6432Node\\Google\\Chrome" + hosts,
                "HKLM\\Software\\Microsoft\\Edge" + hosts,
                "HKLM\\Software\\Chromium" + hosts,
                "HKLM\\Software\\Google\\Chrome" + hosts,
            }));
  const auto firefox = lookup_places(*find_browser("firefox"), "io.tolvanik.host", windows);
  EXPECT_EQ(texts_of(firefox), (std::vector<std::string>{
                                   "HKCU\\Software\\Mozilla" + hosts,
                                   "HKLM\\Software\\WOW6432Node\\Mozilla" + hosts,
                                   "HKLM\\Software\\Mozilla" + hosts,
                               }));
  EXPECT_EQ(firefox[1].key, "Software\\Mozilla" + hosts);
  EXPECT_EQ(firefox[1].view, platform::RegistryView::k32Bit);
}

TEST(LookupPlaces, OnLinuxAreTheUsersFolderThenTheSystemsBelowItsRoot) {
  SiteBase linux_base;
  linux_base.user_home_directory = "/home/u";
  linux_base.system_root = "/stage";
  EXPECT_EQ(texts_of(lookup_places(*find_browser("chrome"), "a.b", linux_base)),
            (std::vector<std::string>{"/home/u/.config/google-chrome/NativeMessagingHosts/a.b.json",
                                      "/stage/etc/opt/chrome/native-messaging-hosts/a.b.json"}));
  EXPECT_EQ(place_text(profile_place("D:\\p", "a.b", '\\')),
            "D:\\p\\NativeMessagingHosts\\a.b.json");
}

Entry entry_at(Scope scope, bool valid, bool from_folder = false) {
  Entry entry;
  entry.scope = scope;
  entry.from_folder = from_folder;
  if (!valid) entry.problems.push_back("the manifest is invalid");
  return entry;
}

std::vector<EntryRole> roles_of(std::vector<Entry> entries, const Family& family, bool user_level) {
  assign_roles(entries, family, user_level);
  std::vector<EntryRole> roles;
  for (const Entry& entry : entries) roles.push_back(entry.role);
  return roles;
}

TEST(AssignRoles, TheFirstEntryWinsUnlessPolicyOrFirefoxsFoldersPassItOver) {
  using enum EntryRole;
  const std::vector<Entry> stale_first = {entry_at(Scope::kUser, false),
                                          entry_at(Scope::kMachine, true)};
  // Chromium and Firefox on Windows use the first entry, valid or not.
  EXPECT_EQ(roles_of(stale_first, kChromiumFamily, true), (std::vector{kUsed, kShadowed}));
  EXPECT_EQ(roles_of(stale_first, kFirefoxFamily, true), (std::vector{kUsed, kShadowed}));
  EXPECT_EQ(roles_of(stale_first, kChromiumFamily, false), (std::vector{kIgnored, kUsed}));

  const std::vector<Entry> folders = {entry_at(Scope::kUser, false, true),
                                      entry_at(Scope::kMachine, true, true)};
  EXPECT_EQ(roles_of(folders, kFirefoxFamily, true), (std::vector{kSkipped, kUsed}));
  EXPECT_EQ(roles_of(folders, kChromiumFamily, true), (std::vector{kUsed, kShadowed}));
  EXPECT_EQ(roles_of({entry_at(Scope::kUser, true)}, kChromiumFamily, false),
            std::vector{kIgnored});
}

}  // namespace
}  // namespace tolvanik::registration
