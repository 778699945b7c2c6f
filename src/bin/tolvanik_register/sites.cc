#include "bin/tolvanik_register/sites.h"

#include <algorithm>

namespace tolvanik::registration {
namespace {

Site site_for(const Options& options, const SiteBase& base, const Browser& browser) {
  const std::string file_name = options.name + ".json";
  if (base.uses_registry) {
    const auto hive = options.all_users ? platform::RegistryHive::kLocalMachine
                                        : platform::RegistryHive::kCurrentUser;
    const std::string manifest_name = options.name + std::string(browser.family->manifest_suffix);
    return Site{std::string(browser.id), browser.family,
                base.host_directory + base.separator + manifest_name,
                RegistryEntry{hive, std::string(browser.registry_keys.front()) +
                                        "\\NativeMessagingHosts\\" + options.name}};
  }
  const std::string folder =
      options.all_users ? base.system_root + std::string(browser.system_folder)
                        : base.user_home_directory + "/" + std::string(browser.user_folder);
  return Site{std::string(browser.id), browser.family, folder + "/" + file_name, std::nullopt};
}

bool same_place(const Site& a, const Site& b) {
  if (a.registry && b.registry) return a.registry->key == b.registry->key;
  return a.manifest_path == b.manifest_path;
}

}  // namespace

std::vector<Site> registration_sites(const Options& options, const SiteBase& base) {
  if (options.profile) {
    const char separator = base.separator;
    return {Site{
        "profile", &kChromiumFamily,
        *options.profile + separator + "NativeMessagingHosts" + separator + options.name + ".json",
        std::nullopt}};
  }
  std::vector<Site> sites;
  for (const Browser* browser : options.browsers) {
    Site site = site_for(options, base, *browser);
    const auto shared =
        std::ranges::find_if(sites, [&](const Site& s) { return same_place(s, site); });
    if (shared != sites.end()) {
      shared->browsers += ", " + site.browsers;
    } else {
      sites.push_back(std::move(site));
    }
  }
  return sites;
}

std::string registry_path_text(const RegistryEntry& entry) {
  return platform::registry_key_text(entry.hive, entry.key);
}

std::string directory_of(const std::string& path, char separator) {
  const std::size_t last = path.find_last_of(separator == '/' ? "/" : "\\/");
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

}  // namespace tolvanik::registration
