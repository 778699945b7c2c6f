// The policies that decide whether a browser starts the host at all, read
// where the browser reads them and weighed as the browser weighs them.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bin/tolvanik_register/browsers.h"
#include "bin/tolvanik_register/sites.h"

namespace tolvanik::registration {

inline constexpr std::string_view kUserLevelHostsPolicy = "NativeMessagingUserLevelHosts";
inline constexpr std::string_view kBlocklistPolicy = "NativeMessagingBlocklist";
inline constexpr std::string_view kAllowlistPolicy = "NativeMessagingAllowlist";

// One policy value as it was found.
struct PolicySetting {
  std::string name;
  Scope scope = Scope::kMachine;
  std::string where;
  std::variant<bool, std::vector<std::string>> value;
};

// What one policy does to the host.
struct PolicyFinding {
  std::string name;
  std::string where;
  // The value as people write it: "0", "["*"]".
  std::string value;
  std::string effect;
  // The browser does not start the host because of it.
  bool stops_host = false;

  bool operator==(const PolicyFinding&) const = default;
};

struct PolicyOutcome {
  std::vector<PolicyFinding> findings;
  bool user_level_allowed = true;
  bool host_blocked = false;
};

// The native-messaging policies of `browser`: the machine's and the user's
// from the registry, or the managed policy files where there is none.
std::vector<PolicySetting> read_policies(const Browser& browser, const SiteBase& base);

// What `settings` do to the host `name`: a machine policy wins over the
// user's of the same name; a blocklist naming the host or "*" blocks it
// unless the allowlist names it. `has_user_entries` says whether a per-user
// registration exists that a ban on per-user hosts would ignore.
PolicyOutcome weigh_policies(const std::vector<PolicySetting>& settings, const std::string& name,
                             bool has_user_entries);

// Where rules for programs are set by policy (AppLocker's rules for
// executables, enforced), what they mean for a host that lies in the user's
// own folders (`per_user_folder`) or elsewhere; nothing where there are
// none.
std::optional<PolicyFinding> program_rules_finding(bool per_user_folder);

}  // namespace tolvanik::registration
