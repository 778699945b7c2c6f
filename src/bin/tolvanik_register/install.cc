#include "bin/tolvanik_register/install.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "bin/tolvanik_register/manifest_json.h"
#include "bin/tolvanik_register/sites.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/user_folders.h"

namespace tolvanik::registration {
namespace {

using platform::kPathSeparator;

// Install writes in the view this program sees, and reads back there.
constexpr auto kOwnView = platform::RegistryView::kOwn;

// Undo steps for what has been written, run newest first when a later step
// fails.
class Journal {
 public:
  void add(std::function<void()> undo) { undo_.push_back(std::move(undo)); }
  void roll_back() {
    for (auto step = undo_.rbegin(); step != undo_.rend(); ++step) (*step)();
    undo_.clear();
  }

 private:
  std::vector<std::function<void()>> undo_;
};

// Writes through a temporary file and a rename, so the browser never reads
// a torn manifest.
std::expected<void, std::string> write_whole_file(const std::string& path,
                                                  const std::string& text) {
  const std::string temporary = path + ".tmp";
  auto written = platform::write_durable_file(temporary, text);
  if (written) written = platform::replace_file(temporary, path);
  if (!written) (void)platform::remove_file(temporary);
  return written;
}

void restore_file(const std::string& path, const std::optional<std::string>& previous) {
  if (previous) {
    (void)write_whole_file(path, *previous);
  } else {
    (void)platform::remove_file(path);
  }
}

std::string permission_hint(const Options& options) {
  return options.all_users ? " (--all-users needs an administrator or root)" : "";
}

std::expected<std::string, std::string> host_path(const Options& options) {
  const std::string given = options.host.value_or(platform::sibling_program_path("tolvanik_host"));
  auto absolute = platform::absolute_path(given);
  if (!absolute || !platform::is_regular_file(*absolute)) {
    return std::unexpected("no tolvanik_host at " + given + ": give its path with --host");
  }
  return absolute;
}

std::expected<void, std::string> write_manifest(const std::string& path, const std::string& text,
                                                Journal& journal, const Options& options) {
  if (auto folder = platform::create_directories(directory_of(path, kPathSeparator)); !folder) {
    return std::unexpected("cannot create the folder of " + path + ": " + folder.error() +
                           permission_hint(options));
  }
  std::optional<std::string> previous;
  if (auto content = platform::read_whole_file(path)) previous = std::move(*content);
  if (auto written = write_whole_file(path, text); !written) {
    return std::unexpected("cannot write " + path + ": " + written.error() +
                           permission_hint(options));
  }
  journal.add([path, previous] { restore_file(path, previous); });
  return {};
}

std::expected<void, std::string> write_key(const RegistryEntry& entry, const std::string& value,
                                           Journal& journal, const Options& options) {
  auto previous = platform::read_registry_default(entry.hive, entry.key, kOwnView);
  if (auto written = platform::write_registry_default(entry.hive, entry.key, value); !written) {
    return std::unexpected("cannot write the registry key " + registry_path_text(entry) + ": " +
                           written.error() + permission_hint(options));
  }
  const std::optional<std::string> before = previous ? *previous : std::nullopt;
  journal.add([entry, before] {
    if (before) {
      (void)platform::write_registry_default(entry.hive, entry.key, *before);
    } else {
      (void)platform::delete_registry_key(entry.hive, entry.key);
    }
  });
  return {};
}

std::expected<void, std::string> write_site(const Site& site, const std::string& text,
                                            std::vector<std::string>& written_manifests,
                                            Journal& journal, const Options& options,
                                            std::vector<std::string>& lines) {
  if (std::ranges::find(written_manifests, site.manifest_path) == written_manifests.end()) {
    if (auto written = write_manifest(site.manifest_path, text, journal, options); !written) {
      return written;
    }
    written_manifests.push_back(site.manifest_path);
    lines.push_back("wrote " + site.manifest_path);
  }
  if (!site.registry) return {};
  if (auto written = write_key(*site.registry, site.manifest_path, journal, options); !written) {
    return written;
  }
  lines.push_back("set " + registry_path_text(*site.registry) + " (" + site.browsers + ")");
  return {};
}

// True when some browser's key in either hive still names `manifest_path`.
bool manifest_still_registered(const Options& options, const std::string& manifest_path) {
  for (const Browser& browser : all_browsers()) {
    const std::string key =
        std::string(browser.registry_keys.front()) + "\\NativeMessagingHosts\\" + options.name;
    for (const auto hive :
         {platform::RegistryHive::kCurrentUser, platform::RegistryHive::kLocalMachine}) {
      const auto value = platform::read_registry_default(hive, key, kOwnView);
      if (value && *value == manifest_path) return true;
    }
  }
  return false;
}

std::expected<void, std::string> remove_manifest(const std::string& path,
                                                 std::vector<std::string>& lines) {
  if (!platform::file_exists(path)) return {};
  if (auto removed = platform::remove_file(path); !removed) {
    return std::unexpected("cannot remove " + path + ": " + removed.error());
  }
  lines.push_back("removed " + path);
  return {};
}

}  // namespace

SiteBase this_system_base(const std::string& host_directory) {
  SiteBase base;
  base.uses_registry = platform::has_registry();
  base.relative_host_paths = base.uses_registry;
  base.separator = kPathSeparator;
  base.host_directory = host_directory;
  base.user_home_directory = platform::environment_variable("HOME").value_or("");
  base.system_root = platform::environment_variable("TOLVANIK_SYSTEM_ROOT").value_or("");
  for (const auto& folder : platform::user_folder_variables()) {
    auto path = platform::environment_variable(folder.variable);
    while (path && path->size() > 1 && platform::is_path_separator(path->back())) path->pop_back();
    if (!path || path->empty()) continue;
    base.user_folders.push_back({*path, std::string(folder.written)});
    // A path may name the folder by its short form ("C:\Users\ALICE~1").
    if (auto short_form = platform::short_path_form(*path)) {
      base.user_folders.push_back({std::move(*short_form), std::string(folder.written)});
    }
  }
  return base;
}

std::expected<std::vector<std::string>, std::string> install(const Options& options) {
  const auto host = host_path(options);
  if (!host) return std::unexpected(host.error());
  Journal journal;
  std::vector<std::string> lines;
  std::vector<std::string> written_manifests;
  const SiteBase base = this_system_base(directory_of(*host, kPathSeparator));
  for (const Site& site : registration_sites(options, base)) {
    const Manifest manifest{site.family, options.name, "Tolvanik desktop bridge",
                            *host,       "stdio",      options.allowed.at(site.family)};
    const std::string text = manifest_text(manifest);
    if (auto written = write_site(site, text, written_manifests, journal, options, lines);
        !written) {
      journal.roll_back();
      return std::unexpected(written.error());
    }
  }
  return lines;
}

std::expected<std::vector<std::string>, std::string> uninstall(const Options& options) {
  const SiteBase base = this_system_base(
      directory_of(platform::sibling_program_path("tolvanik_host"), kPathSeparator));
  std::vector<std::string> lines;
  std::vector<std::string> unreferenced;
  for (const Site& site : registration_sites(options, base)) {
    if (!site.registry) {
      if (auto removed = remove_manifest(site.manifest_path, lines); !removed) {
        return std::unexpected(removed.error());
      }
      continue;
    }
    const auto value =
        platform::read_registry_default(site.registry->hive, site.registry->key, kOwnView);
    if (!value || !*value) continue;
    if (auto deleted = platform::delete_registry_key(site.registry->hive, site.registry->key);
        !deleted) {
      return std::unexpected("cannot remove the registry key " +
                             registry_path_text(*site.registry) + ": " + deleted.error() +
                             permission_hint(options));
    }
    lines.push_back("removed " + registry_path_text(*site.registry) + " (" + site.browsers + ")");
    unreferenced.push_back(**value);
  }
  // A manifest beside the host may serve other browsers' keys still.
  for (const auto& path : unreferenced) {
    if (manifest_still_registered(options, path)) continue;
    if (auto removed = remove_manifest(path, lines); !removed)
      return std::unexpected(removed.error());
  }
  return lines;
}

}  // namespace tolvanik::registration
