#include "bin/tolvanik_register/browsers.h"

#include <algorithm>
#include <array>

namespace tolvanik::registration {
namespace {

constexpr std::string_view kOriginScheme = "chrome-extension://";
constexpr std::size_t kExtensionIdLength = 32;

// Vivaldi on Windows reads Chrome's key rather than one of its own.
constexpr std::array kBrowsers{
    Browser{"chrome", &kChromiumFamily, "Software\\Google\\Chrome",
            ".config/google-chrome/NativeMessagingHosts", "/etc/opt/chrome/native-messaging-hosts"},
    Browser{"edge", &kChromiumFamily, "Software\\Microsoft\\Edge",
            ".config/microsoft-edge/NativeMessagingHosts", "/etc/opt/edge/native-messaging-hosts"},
    Browser{"chromium", &kChromiumFamily, "Software\\Chromium",
            ".config/chromium/NativeMessagingHosts", "/etc/chromium/native-messaging-hosts"},
    Browser{"brave", &kChromiumFamily, "Software\\BraveSoftware\\Brave-Browser",
            ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts",
            "/etc/opt/brave/native-messaging-hosts"},
    Browser{"vivaldi", &kChromiumFamily, "Software\\Google\\Chrome",
            ".config/vivaldi/NativeMessagingHosts", "/etc/opt/vivaldi/native-messaging-hosts"},
    Browser{"firefox", &kFirefoxFamily, "Software\\Mozilla", ".mozilla/native-messaging-hosts",
            "/usr/lib/mozilla/native-messaging-hosts"},
};

}  // namespace

bool is_valid_origin(std::string_view origin) {
  if (!origin.starts_with(kOriginScheme) || !origin.ends_with('/')) return false;
  const std::string_view id =
      origin.substr(kOriginScheme.size(), origin.size() - kOriginScheme.size() - 1);
  return id.size() == kExtensionIdLength &&
         std::ranges::all_of(id, [](char c) { return c >= 'a' && c <= 'p'; });
}

bool is_valid_addon_id(std::string_view id) {
  const auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  if (id.size() == 38 && id.front() == '{' && id.back() == '}') {
    for (std::size_t i = 1; i < 37; ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      if (dash ? id[i] != '-' : !is_hex(id[i])) return false;
    }
    return true;
  }
  const std::size_t at = id.find('@');
  if (at == std::string_view::npos || at + 1 == id.size()) return false;
  const auto is_id_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  };
  return std::ranges::all_of(id.substr(0, at), is_id_char) &&
         std::ranges::all_of(id.substr(at + 1), is_id_char);
}

std::span<const Browser> all_browsers() { return kBrowsers; }

const Browser* find_browser(std::string_view id) {
  const auto found =
      std::ranges::find_if(kBrowsers, [id](const Browser& browser) { return browser.id == id; });
  return found == kBrowsers.end() ? nullptr : &*found;
}

}  // namespace tolvanik::registration
