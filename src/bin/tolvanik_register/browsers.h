// The browsers the host can be registered with: what sets the two families
// apart, and where each browser looks for a native-messaging host.
#pragma once

#include <span>
#include <string_view>

namespace tolvanik::registration {

// "chrome-extension://" and an extension id of 32 letters a to p, then "/".
bool is_valid_origin(std::string_view origin);

// A Firefox add-on id: address-like ("name@example.com") or a GUID in
// braces.
bool is_valid_addon_id(std::string_view id);

// How a browser starts the host it found.
enum class HostStart {
  // The caller's origin as the only argument, in the host's own folder.
  kOriginInHostFolder,
  // The manifest's path and the add-on id, in the browser's own working
  // folder.
  kManifestAndIdInBrowserFolder,
};

// The two ways browsers name the extensions a host serves, each in a
// manifest of its own: Firefox refuses a manifest that lists origins.
struct Family {
  std::string_view name;
  // The manifest's list of the extensions allowed to talk to the host.
  std::string_view allowed_key;
  // Another family's list that makes this family refuse the manifest, if
  // any.
  std::string_view refused_key;
  // The manifest's file name after the host's name, where one folder holds
  // the manifests of both families.
  std::string_view manifest_suffix;
  // What one entry of the allowed list is, and its check.
  std::string_view entry_name;
  bool (*is_valid_entry)(std::string_view entry);
  // The install option that gives an entry, how the entry is written, and
  // what to write when one is refused.
  std::string_view id_option;
  std::string_view id_form;
  std::string_view id_hint;
  // Whether a browser started with --user-data-dir reads manifests there.
  bool reads_profile_folder = false;
  HostStart host_start = HostStart::kOriginInHostFolder;
};

inline constexpr Family kChromiumFamily{
    .name = "Chromium",
    .allowed_key = "allowed_origins",
    .refused_key = "",
    .manifest_suffix = ".json",
    .entry_name = "origin",
    .is_valid_entry = is_valid_origin,
    .id_option = "--origin",
    .id_form = "chrome-extension://<extension id>/",
    .id_hint = "chrome-extension://<32 letters a-p>/",
    .reads_profile_folder = true,
    .host_start = HostStart::kOriginInHostFolder,
};

inline constexpr Family kFirefoxFamily{
    .name = "Firefox",
    .allowed_key = "allowed_extensions",
    .refused_key = "allowed_origins",
    .manifest_suffix = ".firefox.json",
    .entry_name = "add-on id",
    .is_valid_entry = is_valid_addon_id,
    .id_option = "--extension-id",
    .id_form = "<add-on id>",
    .id_hint = "the add-on id, as name@example.com or {GUID}",
    .reads_profile_folder = false,
    .host_start = HostStart::kManifestAndIdInBrowserFolder,
};

// Both families, in the order the tool names them.
inline constexpr const Family* kFamilies[] = {&kChromiumFamily, &kFirefoxFamily};

struct Browser {
  std::string_view id;
  const Family* family = &kChromiumFamily;
  // Below HKCU or HKLM; the browser reads NativeMessagingHosts\<name> there.
  std::string_view registry_key;
  // Below the user's home folder.
  std::string_view user_folder;
  // The folder every user's browser reads.
  std::string_view system_folder;
};

// Where every browser looks, in this order: the current user's
// registration before the one for all users.
enum class Scope { kUser, kMachine };
inline constexpr Scope kLookupOrder[] = {Scope::kUser, Scope::kMachine};

// Every browser, in the order the tool reports them.
std::span<const Browser> all_browsers();

// The browser called `id`, or null.
const Browser* find_browser(std::string_view id);

}  // namespace tolvanik::registration
