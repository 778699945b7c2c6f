#include "bin/tolvanik_register/browsers.h"

#include <algorithm>
#include <array>

namespace tolvanik::registration {
namespace {

// Vivaldi on Windows reads Chrome's key rather than one of its own.
constexpr std::array kBrowsers{
    Browser{"chrome", "Software\\Google\\Chrome", "google-chrome/NativeMessagingHosts",
            "/etc/opt/chrome/native-messaging-hosts"},
    Browser{"edge", "Software\\Microsoft\\Edge", "microsoft-edge/NativeMessagingHosts",
            "/etc/opt/edge/native-messaging-hosts"},
    Browser{"chromium", "Software\\Chromium", "chromium/NativeMessagingHosts",
            "/etc/chromium/native-messaging-hosts"},
    Browser{"brave", "Software\\BraveSoftware\\Brave-Browser",
            "BraveSoftware/Brave-Browser/NativeMessagingHosts",
            "/etc/opt/brave/native-messaging-hosts"},
    Browser{"vivaldi", "Software\\Google\\Chrome", "vivaldi/NativeMessagingHosts",
            "/etc/opt/vivaldi/native-messaging-hosts"},
};

}  // namespace

std::span<const Browser> all_browsers() { return kBrowsers; }

const Browser* find_browser(std::string_view id) {
  const auto found =
      std::ranges::find_if(kBrowsers, [id](const Browser& browser) { return browser.id == id; });
  return found == kBrowsers.end() ? nullptr : &*found;
}

}  // namespace tolvanik::registration
