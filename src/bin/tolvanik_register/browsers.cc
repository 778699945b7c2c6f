#include "bin/tolvanik_register/browsers.h"

#include <algorithm>
#include <array>

namespace tolvanik::registration {
namespace {

constexpr auto kChromium = BrowserFamily::kChromium;

// Vivaldi on Windows reads Chrome's key rather than one of its own.
constexpr std::array kBrowsers{
    Browser{"chrome", kChromium, "Software\\Google\\Chrome",
            ".config/google-chrome/NativeMessagingHosts", "/etc/opt/chrome/native-messaging-hosts"},
    Browser{"edge", kChromium, "Software\\Microsoft\\Edge",
            ".config/microsoft-edge/NativeMessagingHosts", "/etc/opt/edge/native-messaging-hosts"},
    Browser{"chromium", kChromium, "Software\\Chromium", ".config/chromium/NativeMessagingHosts",
            "/etc/chromium/native-messaging-hosts"},
    Browser{"brave", kChromium, "Software\\BraveSoftware\\Brave-Browser",
            ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts",
            "/etc/opt/brave/native-messaging-hosts"},
    Browser{"vivaldi", kChromium, "Software\\Google\\Chrome",
            ".config/vivaldi/NativeMessagingHosts", "/etc/opt/vivaldi/native-messaging-hosts"},
    Browser{"firefox", BrowserFamily::kFirefox, "Software\\Mozilla",
            ".mozilla/native-messaging-hosts", "/usr/lib/mozilla/native-messaging-hosts"},
};

}  // namespace

std::span<const Browser> all_browsers() { return kBrowsers; }

const Browser* find_browser(std::string_view id) {
  const auto found =
      std::ranges::find_if(kBrowsers, [id](const Browser& browser) { return browser.id == id; });
  return found == kBrowsers.end() ? nullptr : &*found;
}

}  // namespace tolvanik::registration
