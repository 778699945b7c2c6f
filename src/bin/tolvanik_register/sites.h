// Where a registration is written: manifest files and, on systems with a
// registry, the keys that point the browsers at them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bin/tolvanik_register/options.h"
#include "platform/registry.h"

namespace tolvanik::registration {

struct RegistryEntry {
  platform::RegistryHive hive = platform::RegistryHive::kCurrentUser;
  // Below the hive: the browser's key, "NativeMessagingHosts" and the name.
  std::string key;
};

struct Site {
  // The browsers served, as "chrome" or "chrome, vivaldi".
  std::string browsers;
  const Family* family = &kChromiumFamily;
  std::string manifest_path;
  std::optional<RegistryEntry> registry;
};

// One of the user's own folders as it is on this machine, and how a report
// meant to be passed on writes it instead ("%APPDATA%", "~").
struct UserFolder {
  std::string path;
  std::string written;
};

// What the sites are computed from besides the options.
struct SiteBase {
  bool uses_registry = false;
  // Browsers that find hosts through the registry, on Windows, also take a
  // host path relative to the manifest's folder (Chromium's and Firefox's
  // launchers); elsewhere the path must be absolute.
  bool relative_host_paths = false;
  char separator = '/';
  // Where the manifests go on a system with a registry: beside the host,
  // Firefox's under a name of its own.
  std::string host_directory;
  // The user's home folder on a system without one.
  std::string user_home_directory;
  // Put before every system-wide folder (/etc/..., /usr/lib/...), so that
  // a package can be staged, and tests need not touch the real ones; empty
  // normally.
  std::string system_root;
  // The innermost first.
  std::vector<UserFolder> user_folders;
};

// One site per distinct key or manifest file, in the order of the browsers.
std::vector<Site> registration_sites(const Options& options, const SiteBase& base);

// "HKCU\<key>" or "HKLM\<key>", as people write registry paths.
std::string registry_path_text(const RegistryEntry& entry);

// The folder part of `path`, before its last separator.
std::string directory_of(const std::string& path, char separator);

}  // namespace tolvanik::registration
