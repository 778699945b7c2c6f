#include "bin/tolvanik_register/lookup.h"

#include "platform/files.h"

namespace tolvanik::registration {
namespace {

std::vector<LookupPlace> registry_places(const Browser& browser, const std::string& name) {
  std::vector<LookupPlace> places;
  for (const RegistryStep& step : kRegistryOrder) {
    for (const std::string_view key : browser.registry_keys) {
      if (key.empty()) continue;
      places.push_back(LookupPlace{step.scope, std::string(key) + "\\NativeMessagingHosts\\" + name,
                                   step.view, ""});
    }
  }
  return places;
}

std::vector<LookupPlace> folder_places(const Browser& browser, const std::string& name,
                                       const SiteBase& base) {
  const std::string file = "/" + name + ".json";
  std::vector<LookupPlace> places;
  const auto add = [&](Scope scope, const std::string& folder) {
    places.push_back(LookupPlace{scope, "", platform::RegistryView::kOwn, folder + file});
  };
  for (const Scope scope : kFolderOrder) {
    if (scope == Scope::kUser) {
      add(scope, base.user_home_directory + "/" + std::string(browser.user_folder));
      continue;
    }
    add(scope, base.system_root + std::string(browser.system_folder));
    if (!browser.other_system_folder.empty()) {
      add(scope, base.system_root + std::string(browser.other_system_folder));
    }
  }
  return places;
}

// The manifest a place names; nothing where it names none; why not where
// the registry value is there but cannot be read (of another type, or
// access denied).
std::expected<std::optional<std::string>, std::string> manifest_named_at(const LookupPlace& place) {
  if (place.key.empty()) {
    if (!platform::file_exists(place.manifest_path)) return std::nullopt;
    return place.manifest_path;
  }
  return platform::read_registry_default(hive_of(place.scope), place.key, place.view);
}

// Reads and judges the manifest of `entry` as the browser does.
void judge_manifest(Entry& entry, const Family& family, const std::string& name,
                    const SiteBase& base) {
  if (!is_absolute_path(entry.manifest_path)) {
    entry.problems.push_back("the registered manifest path " + entry.manifest_path +
                             " is not absolute");
    return;
  }
  const auto text = platform::read_whole_file(entry.manifest_path);
  if (!text) {
    entry.problems.push_back("cannot read the manifest: " + text.error());
    return;
  }
  auto manifest = read_manifest(*text, family);
  if (!manifest) {
    entry.problems.push_back("the manifest is invalid: " + manifest.error());
    return;
  }
  manifest->path =
      host_seen_by_browser(manifest->path, entry.manifest_path, base.relative_host_paths);
  for (auto& problem :
       manifest_problems(*manifest, name, platform::is_regular_file(manifest->path))) {
    entry.problems.push_back("the manifest is invalid: " + problem);
  }
  entry.manifest = std::move(*manifest);
}

}  // namespace

std::vector<LookupPlace> lookup_places(const Browser& browser, const std::string& name,
                                       const SiteBase& base) {
  return base.uses_registry ? registry_places(browser, name) : folder_places(browser, name, base);
}

LookupPlace profile_place(const std::string& profile, const std::string& name, char separator) {
  return LookupPlace{Scope::kUser, "", platform::RegistryView::kOwn,
                     profile + separator + "NativeMessagingHosts" + separator + name + ".json"};
}

std::string place_text(const LookupPlace& place) {
  if (place.key.empty()) return place.manifest_path;
  std::string key = place.key;
  if (place.view == platform::RegistryView::k32Bit) {
    key.insert(key.find('\\') + 1, "WOW6432Node\\");
  }
  return platform::registry_key_text(hive_of(place.scope), key);
}

std::vector<Entry> find_entries(std::span<const LookupPlace> places, const Family& family,
                                const std::string& name, const SiteBase& base) {
  std::vector<Entry> entries;
  for (const LookupPlace& place : places) {
    auto manifest_path = manifest_named_at(place);
    if (manifest_path && !*manifest_path) continue;
    Entry entry;
    entry.scope = place.scope;
    entry.where = place_text(place);
    entry.from_folder = place.key.empty();
    if (!manifest_path) {
      // Chromium (launch_context_win.cc, GetManifestPathWithFlagsFromSubkey)
      // and Firefox (NativeManifests.sys.mjs, _winLookup) take a value they
      // cannot read as none and look on.
      entry.unreadable = true;
      entry.problems.push_back("could not read " + entry.where + ": " + manifest_path.error());
    } else {
      entry.manifest_path = std::move(**manifest_path);
      judge_manifest(entry, family, name, base);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

void assign_roles(std::vector<Entry>& entries, const Family& family, bool user_level_allowed) {
  bool used = false;
  for (Entry& entry : entries) {
    if (entry.scope == Scope::kUser && !user_level_allowed) {
      entry.role = EntryRole::kIgnored;
    } else if (used) {
      entry.role = EntryRole::kShadowed;
    } else if (entry.unreadable) {
      entry.role = EntryRole::kSkipped;
    } else if (family.takes_first_valid_in_folders && entry.from_folder &&
               !entry.problems.empty()) {
      entry.role = EntryRole::kSkipped;
    } else {
      entry.role = EntryRole::kUsed;
      used = true;
    }
  }
}

std::vector<std::string> manifest_problems(const Manifest& manifest, std::string_view expected_name,
                                           bool host_exists) {
  std::vector<std::string> problems;
  if (manifest.name != expected_name) {
    problems.push_back("\"name\" is \"" + manifest.name + "\", not \"" +
                       std::string(expected_name) + "\"");
  }
  if (manifest.type != "stdio") problems.push_back("\"type\" is not \"stdio\"");
  if (!is_absolute_path(manifest.path)) {
    problems.push_back("\"path\" " + manifest.path + " is not absolute");
  } else if (!host_exists) {
    problems.push_back("\"path\" " + manifest.path + " does not exist");
  }
  const Family& family = *manifest.family;
  if (manifest.allowed.empty()) {
    problems.push_back(quoted(family.allowed_key) + " is empty");
  }
  for (const auto& entry : manifest.allowed) {
    if (!family.is_valid_entry(entry)) {
      problems.push_back(std::string(family.entry_name) + " \"" + entry + "\" is malformed");
    }
  }
  return problems;
}

std::string host_seen_by_browser(const std::string& host_path, const std::string& manifest_path,
                                 bool relative_allowed) {
  if (!relative_allowed || host_path.empty() || is_absolute_path(host_path)) return host_path;
  return directory_of(manifest_path, '\\') + '\\' + host_path;
}

bool is_absolute_path(std::string_view path) {
  if (path.starts_with('/') || path.starts_with("\\\\")) return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

}  // namespace tolvanik::registration
