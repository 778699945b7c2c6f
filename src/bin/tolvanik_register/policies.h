// The policies that decide whether a browser starts the host at all, read
// where the browser reads them and weighed as the browser weighs them.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bin/tolvanik_register/browsers.h"
#include "bin/tolvanik_register/sites.h"
#include "platform/registry.h"

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
  // Set when the key could not be read: the value then says nothing.
  std::string read_error;
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

// The value of a boolean policy among a policy key's `values`, as Chromium
// converts it (registry_dict.cc, ConvertRegistryValue): a DWORD, or a string
// holding a whole number; non-zero is true. Names match in any letter case.
std::optional<bool> policy_flag(const std::vector<platform::RegistryValue>& values,
                                std::string_view name);

// A list policy as Chromium reads it (registry_dict.cc, ConvertToJSON and
// ConvertRegistryValue): the string values with numbered names of its
// subkey (`subkey_values`), others left out; without the subkey, a string
// value of the policy's name in the policy key holding a JSON list of
// strings.
std::optional<std::vector<std::string>> policy_list(
    const std::vector<platform::RegistryValue>* subkey_values,
    const std::vector<platform::RegistryValue>& key_values, std::string_view name);

// Where rules for programs are set by policy (AppLocker's rules for
// executables, enforced), what they mean for a host that lies in the user's
// own folders (`per_user_folder`) or elsewhere; nothing where there are
// none.
std::optional<PolicyFinding> program_rules_finding(bool per_user_folder);

}  // namespace tolvanik::registration
