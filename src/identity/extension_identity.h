// How the extension is named to a native-messaging host: by its origin in
// the Chromium family's manifests and arguments, by its add-on id in
// Firefox's. The host's log and the registration tool both judge them here.
#pragma once

#include <string_view>

namespace tolvanik {

// "chrome-extension://" and an extension id of 32 letters a to p, then "/".
bool is_valid_origin(std::string_view origin);

// A Firefox add-on id: address-like ("name@example.com") or a GUID in
// braces.
bool is_valid_addon_id(std::string_view id);

// The first argument tolvanik_register check gives the hosts it starts,
// before the browser's own, so that their log lines are told from those of
// the hosts a browser starts.
inline constexpr std::string_view kCheckCallerArgument = "tolvanik_register-check";

}  // namespace tolvanik
