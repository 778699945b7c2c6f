// The browsers the host can be registered with: what sets the two families
// apart, and where each browser looks for a native-messaging host.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "identity/extension_identity.h"
#include "platform/registry.h"

namespace tolvanik::registration {

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
  // Whether, among the manifests found in folders, the browser takes the
  // first valid one rather than the first there is.
  bool takes_first_valid_in_folders = false;
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
    .id_hint = "the origin, chrome-extension://<extension id of 32 letters a-p>/",
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
    .takes_first_valid_in_folders = true,
    .host_start = HostStart::kManifestAndIdInBrowserFolder,
};

// Both families, in the order the tool names them.
inline constexpr const Family* kFamilies[] = {&kChromiumFamily, &kFirefoxFamily};

// Whose registration a lookup place holds: the current user's, or the one
// for every user of the machine.
enum class Scope { kUser, kMachine };

inline platform::RegistryHive hive_of(Scope scope) {
  return scope == Scope::kUser ? platform::RegistryHive::kCurrentUser
                               : platform::RegistryHive::kLocalMachine;
}

struct RegistryStep {
  Scope scope;
  platform::RegistryView view;
};

// The order in which every browser reads the registry, the same for both
// families: HKCU, then HKLM's 32-bit view, then its 64-bit view. HKCU's
// Software key is one key in both views (Microsoft, "Registry Keys Affected
// by WOW64"), so it is read once.
inline constexpr RegistryStep kRegistryOrder[] = {
    {Scope::kUser, platform::RegistryView::kOwn},
    {Scope::kMachine, platform::RegistryView::k32Bit},
    {Scope::kMachine, platform::RegistryView::k64Bit},
};

// The order of the folders on systems without a registry: the user's
// before the system's.
inline constexpr Scope kFolderOrder[] = {Scope::kUser, Scope::kMachine};

struct Browser {
  std::string_view id;
  const Family* family = &kChromiumFamily;
  // The keys below HKCU or HKLM whose NativeMessagingHosts\<name> the
  // browser reads, in its order within each hive and view; the first is its
  // own, the one install writes.
  std::array<std::string_view, 3> registry_keys;
  // Below the user's home folder.
  std::string_view user_folder;
  // The folder every user's browser reads, below the system root, the one
  // install writes; and the one some builds of the browser read instead.
  std::string_view system_folder;
  std::string_view other_system_folder;
  // Its machine and user policies, below HKLM and HKCU; and the folder of
  // its managed policy files elsewhere, below the system root. Empty where
  // they are not known.
  std::string_view policy_key;
  std::string_view policy_folder;
};

// Every browser, in the order the tool reports them.
std::span<const Browser> all_browsers();

// The browser called `id`, or null.
const Browser* find_browser(std::string_view id);

}  // namespace tolvanik::registration
