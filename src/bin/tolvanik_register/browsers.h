// The browsers the host can be registered with, and where each looks for a
// native-messaging host.
#pragma once

#include <span>
#include <string_view>

namespace tolvanik::registration {

// The two ways browsers name the extensions a host serves, each in a
// manifest of its own: Firefox refuses a manifest that lists origins.
enum class BrowserFamily { kChromium, kFirefox };

struct Browser {
  std::string_view id;
  BrowserFamily family = BrowserFamily::kChromium;
  // Below HKCU or HKLM; the browser reads NativeMessagingHosts\<name> there.
  std::string_view registry_key;
  // Below the user's home folder.
  std::string_view user_folder;
  // The folder every user's browser reads.
  std::string_view system_folder;
};

// Every browser, in the order the tool reports them.
std::span<const Browser> all_browsers();

// The browser called `id`, or null.
const Browser* find_browser(std::string_view id);

}  // namespace tolvanik::registration
