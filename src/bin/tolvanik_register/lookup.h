// Where a browser finds the host: every registration of the host's name in
// the browser's own order, each manifest judged as the browser judges it,
// and which of them the browser uses.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bin/tolvanik_register/browsers.h"
#include "bin/tolvanik_register/manifest_json.h"
#include "bin/tolvanik_register/sites.h"

namespace tolvanik::registration {

// One place a browser looks: a registry key whose default value names the
// manifest, or the manifest file itself.
struct LookupPlace {
  Scope scope = Scope::kUser;
  // The key below HKCU or HKLM and the view it is read in; empty for a file.
  std::string key;
  platform::RegistryView view = platform::RegistryView::kOwn;
  std::string manifest_path;
};

// Every place `browser` looks for the manifest of `name`, in its order.
std::vector<LookupPlace> lookup_places(const Browser& browser, const std::string& name,
                                       const SiteBase& base);

// The one place a Chromium-family browser started with
// --user-data-dir=`profile` looks.
LookupPlace profile_place(const std::string& profile, const std::string& name, char separator);

// How people write the place: "HKCU\Software\...", the 32-bit view as
// "HKLM\Software\WOW6432Node\...", or the file's path.
std::string place_text(const LookupPlace& place);

enum class EntryRole {
  // The registration the browser starts the host from.
  kUsed,
  // Found after the used one; the browser never reads it.
  kShadowed,
  // A per-user registration while a policy switches per-user hosts off.
  kIgnored,
  // Invalid, and passed over by a browser that takes the first valid one;
  // or a registry value that cannot be read, which every browser passes over.
  kSkipped,
};

struct Entry {
  Scope scope = Scope::kUser;
  std::string where;
  std::string manifest_path;
  // The manifest as the browser reads it, when it can; its path is the
  // host the browser starts.
  std::optional<Manifest> manifest;
  // What keeps the browser from starting the host from this entry.
  std::vector<std::string> problems;
  EntryRole role = EntryRole::kShadowed;
  bool from_folder = false;
  // The registry value is there but could not be read.
  bool unreadable = false;

  bool operator==(const Entry&) const = default;
};

// The registrations found at `places`, in their order, each with its
// manifest judged as the manifest of `name` for `family`; their roles
// follow from assign_roles.
std::vector<Entry> find_entries(std::span<const LookupPlace> places, const Family& family,
                                const std::string& name, const SiteBase& base);

// Gives each entry, in lookup order, its role: per-user entries are ignored
// while per-user hosts are not allowed; the first other entry is used,
// except that a family taking the first valid manifest in folders skips
// invalid ones there; everything after it is shadowed.
void assign_roles(std::vector<Entry>& entries, const Family& family, bool user_level_allowed);

// What keeps a browser of the manifest's family from starting its host,
// read as the manifest of `expected_name`; empty when nothing does.
std::vector<std::string> manifest_problems(const Manifest& manifest, std::string_view expected_name,
                                           bool host_exists);

// The host a browser starts for a manifest at `manifest_path` that names
// `host_path`. Where the browsers take a relative path from the manifest's
// folder (`relative_allowed`) it is resolved there; elsewhere it stays as it
// is, and manifest_problems finds it not absolute.
std::string host_seen_by_browser(const std::string& host_path, const std::string& manifest_path,
                                 bool relative_allowed);

// True for "/...", "\\server\..." and "C:\..." or "C:/...".
bool is_absolute_path(std::string_view path);

}  // namespace tolvanik::registration
