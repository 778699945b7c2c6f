#include "bin/tolvanik_register/browsers.h"

#include <algorithm>
#include <array>

namespace tolvanik::registration {
namespace {

constexpr std::string_view kChromeKey = "Software\\Google\\Chrome";

// Each browser's lookup, with where each rule comes from:
// - The Chromium family on Windows reads HKCU only while the policy
//   NativeMessagingUserLevelHosts allows per-user hosts, then HKLM; in each
//   view its own key before Chrome's (Chromium, launch_context_win.cc,
//   FindManifest and GetManifestPath); elsewhere the user's folder, again
//   only while allowed, before the system's, taking the first manifest
//   there is (launch_context_posix.cc, FindManifest).
// - Edge's own key, then Chromium's, then Chrome's (Microsoft Edge's
//   native messaging documentation).
// - Vivaldi reads Chrome's key; no key of its own is known.
// - Firefox on Windows: HKCU, HKLM's 32-bit view, HKLM's 64-bit view, the
//   first entry found; elsewhere ~/.mozilla before the system folder, the
//   first valid manifest (Firefox, NativeManifests.sys.mjs, _winLookup and
//   _tryPaths); the system folder is /usr/lib/mozilla's, or /usr/lib64's in
//   64-bit builds for systems that have it (Firefox, nsXREDirProvider.cpp,
//   GetSystemParentDirectory).
// - Policies: each browser's policy documentation (Chrome Enterprise and
//   Microsoft Edge policy references, Brave's Group Policy page, Chromium's
//   Linux quick start); Vivaldi's are not known here and Firefox has none
//   for native messaging.
constexpr std::array kBrowsers{
    Browser{"chrome",
            &kChromiumFamily,
            {kChromeKey},
            ".config/google-chrome/NativeMessagingHosts",
            "/etc/opt/chrome/native-messaging-hosts",
            "",
            "Software\\Policies\\Google\\Chrome",
            "/etc/opt/chrome/policies/managed"},
    Browser{"edge",
            &kChromiumFamily,
            {"Software\\Microsoft\\Edge", "Software\\Chromium", kChromeKey},
            ".config/microsoft-edge/NativeMessagingHosts",
            "/etc/opt/edge/native-messaging-hosts",
            "",
            "Software\\Policies\\Microsoft\\Edge",
            "/etc/opt/edge/policies/managed"},
    Browser{"chromium",
            &kChromiumFamily,
            {"Software\\Chromium", kChromeKey},
            ".config/chromium/NativeMessagingHosts",
            "/etc/chromium/native-messaging-hosts",
            "",
            "Software\\Policies\\Chromium",
            "/etc/chromium/policies/managed"},
    Browser{"brave",
            &kChromiumFamily,
            {"Software\\BraveSoftware\\Brave-Browser", kChromeKey},
            ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts",
            "/etc/opt/brave/native-messaging-hosts",
            "",
            "Software\\Policies\\BraveSoftware\\Brave",
            "/etc/brave/policies/managed"},
    Browser{"vivaldi",
            &kChromiumFamily,
            {kChromeKey},
            ".config/vivaldi/NativeMessagingHosts",
            "/etc/opt/vivaldi/native-messaging-hosts",
            "",
            "",
            ""},
    Browser{"firefox",
            &kFirefoxFamily,
            {"Software\\Mozilla"},
            ".mozilla/native-messaging-hosts",
            "/usr/lib/mozilla/native-messaging-hosts",
            "/usr/lib64/mozilla/native-messaging-hosts",
            "",
            ""},
};

}  // namespace

std::span<const Browser> all_browsers() { return kBrowsers; }

const Browser* find_browser(std::string_view id) {
  const auto found =
      std::ranges::find_if(kBrowsers, [id](const Browser& browser) { return browser.id == id; });
  return found == kBrowsers.end() ? nullptr : &*found;
}

}  // namespace tolvanik::registration
