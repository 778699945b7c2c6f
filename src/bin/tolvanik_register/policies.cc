#include "bin/tolvanik_register/policies.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "messaging/json.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace tolvanik::registration {
namespace {

using platform::RegistryHive;

// Rules for programs set by AppLocker's policy, as its Group Policy writes
// them; EnforcementMode 0 only audits.
constexpr std::string_view kProgramRulesKey = "Software\\Policies\\Microsoft\\Windows\\SrpV2\\Exe";

constexpr std::string_view kPerMachineAdvice =
    "install per machine (msiexec ... ALLUSERS=1, or --all-users)";

std::string registry_text(Scope scope, std::string_view key) {
  return platform::registry_key_text(hive_of(scope), key);
}

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::optional<int> whole_integer(std::string_view text) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

const platform::RegistryValue* value_named(const std::vector<platform::RegistryValue>& values,
                                           std::string_view name) {
  const auto found = std::ranges::find_if(
      values, [&](const platform::RegistryValue& value) { return same_name(value.name, name); });
  return found == values.end() ? nullptr : &*found;
}

// One hive's policy key with the list policies' subkeys, as read.
struct PolicyKey {
  std::vector<platform::RegistryValue> values;
  std::vector<std::pair<std::string_view, std::vector<platform::RegistryValue>>> lists;
};

// Reads `key` and its list subkeys; a key that exists but cannot be read is
// reported, as the browser logs it and goes on without it.
std::optional<PolicyKey> read_policy_key(RegistryHive hive, Scope scope, const std::string& key,
                                         std::vector<PolicySetting>& settings) {
  const auto report = [&](const std::string& where, const std::string& error) {
    settings.push_back({"", scope, where, false, "could not read: " + error});
  };
  const auto values = platform::read_registry_values(hive, key);
  if (!values) report(registry_text(scope, key), values.error());
  if (!values || !*values) return std::nullopt;
  PolicyKey read{std::move(**values), {}};
  for (const std::string_view name : {kBlocklistPolicy, kAllowlistPolicy}) {
    const std::string list_key = key + "\\" + std::string(name);
    auto list = platform::read_registry_values(hive, list_key);
    if (!list) report(registry_text(scope, list_key), list.error());
    if (list && *list) read.lists.emplace_back(name, std::move(**list));
  }
  return read;
}

// The machine's hive, then the user's, as Chromium ranks them (Chromium,
// policy_loader_win.cc, kHives).
void read_registry_policies(const Browser& browser, std::vector<PolicySetting>& settings) {
  const std::string key(browser.policy_key);
  for (const Scope scope : {Scope::kMachine, Scope::kUser}) {
    const auto read = read_policy_key(hive_of(scope), scope, key, settings);
    if (!read) continue;
    if (const auto flag = policy_flag(read->values, kUserLevelHostsPolicy)) {
      settings.push_back(
          {std::string(kUserLevelHostsPolicy), scope, registry_text(scope, key), *flag, ""});
    }
    for (const std::string_view name : {kBlocklistPolicy, kAllowlistPolicy}) {
      const auto subkey =
          std::ranges::find(read->lists, name, [](const auto& list) { return list.first; });
      const bool from_subkey = subkey != read->lists.end();
      auto list = policy_list(from_subkey ? &subkey->second : nullptr, read->values, name);
      if (!list) continue;
      const std::string where = from_subkey ? key + "\\" + std::string(name) : key;
      settings.push_back(
          {std::string(name), scope, registry_text(scope, where), std::move(*list), ""});
    }
  }
}

std::optional<std::vector<std::string>> string_list(const JsonValue& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<std::string> strings;
  for (const JsonValue& element : value.elements()) {
    if (!element.is_string()) return std::nullopt;
    strings.emplace_back(element.as_string());
  }
  return strings;
}

// The managed policy files take effect in name order, a later file's value
// over an earlier one's even where it is of the wrong type, which then
// leaves the policy unset (Chromium, config_dir_policy_loader.cc, LoadFrom
// and MergeFrom, then the schema's check).
void read_policy_files(const Browser& browser, const SiteBase& base,
                       std::vector<PolicySetting>& settings) {
  const std::string folder = base.system_root + std::string(browser.policy_folder);
  const auto files = platform::files_in_folder(folder);
  if (!files) return;
  for (const std::string& file : *files) {
    const std::string path = folder + "/" + file;
    const auto text = platform::read_whole_file(path);
    const auto document = text ? parse_json(*text) : std::nullopt;
    if (!document || !document->root().is_object()) continue;
    const auto keep = [&](std::string_view name, auto value) {
      std::erase_if(settings, [&](const PolicySetting& s) { return s.name == name; });
      if (value) settings.push_back({std::string(name), Scope::kMachine, path, *value, ""});
    };
    const JsonValue& root = document->root();
    if (const JsonValue* flag = root.find(kUserLevelHostsPolicy)) {
      keep(kUserLevelHostsPolicy,
           flag->is_boolean() ? std::optional(flag->as_boolean()) : std::nullopt);
    }
    for (const std::string_view name : {kBlocklistPolicy, kAllowlistPolicy}) {
      if (const JsonValue* member = root.find(name)) keep(name, string_list(*member));
    }
  }
}

std::string value_text(const PolicySetting& setting) {
  if (const bool* flag = std::get_if<bool>(&setting.value)) return *flag ? "1" : "0";
  std::string text = "[";
  for (const std::string& entry : std::get<std::vector<std::string>>(setting.value)) {
    text += (text.size() > 1 ? ", \"" : "\"") + entry + "\"";
  }
  return text + "]";
}

bool names(const PolicySetting* list, const std::string& entry) {
  if (list == nullptr) return false;
  const auto& entries = std::get<std::vector<std::string>>(list->value);
  return std::ranges::find(entries, entry) != entries.end();
}

// The setting of `name` that takes effect: the machine's, else the user's.
const PolicySetting* in_effect(const std::vector<PolicySetting>& settings, std::string_view name) {
  const PolicySetting* chosen = nullptr;
  for (const PolicySetting& setting : settings) {
    if (setting.name != name) continue;
    if (chosen == nullptr || setting.scope == Scope::kMachine) chosen = &setting;
  }
  return chosen;
}

std::string user_level_effect(bool allowed, bool has_user_entries) {
  if (allowed) return "per-user hosts are allowed";
  if (!has_user_entries) return "per-user hosts are switched off by policy";
  return "per-user hosts are switched off by policy: this registration is ignored; " +
         std::string(kPerMachineAdvice);
}

}  // namespace

std::vector<PolicySetting> read_policies(const Browser& browser, const SiteBase& base) {
  std::vector<PolicySetting> settings;
  if (base.uses_registry && !browser.policy_key.empty()) {
    read_registry_policies(browser, settings);
  } else if (!base.uses_registry && !browser.policy_folder.empty()) {
    read_policy_files(browser, base, settings);
  }
  return settings;
}

PolicyOutcome weigh_policies(const std::vector<PolicySetting>& settings, const std::string& name,
                             bool has_user_entries) {
  PolicyOutcome outcome;
  const PolicySetting* user_level = in_effect(settings, kUserLevelHostsPolicy);
  const PolicySetting* blocklist = in_effect(settings, kBlocklistPolicy);
  const PolicySetting* allowlist = in_effect(settings, kAllowlistPolicy);
  outcome.user_level_allowed = user_level == nullptr || std::get<bool>(user_level->value);
  const bool listed = names(blocklist, name) || names(blocklist, "*");
  outcome.host_blocked = listed && !names(allowlist, name);
  for (const PolicySetting& setting : settings) {
    if (!setting.read_error.empty()) {
      outcome.findings.push_back({"key", setting.where, "", setting.read_error, false});
      continue;
    }
    PolicyFinding finding{setting.name, setting.where, value_text(setting), "", false};
    if (&setting != in_effect(settings, setting.name)) {
      finding.effect = "overridden by the machine's policy";
    } else if (&setting == user_level) {
      // Whether it stops the host depends on a registration for all users.
      finding.effect = user_level_effect(outcome.user_level_allowed, has_user_entries);
    } else if (&setting == blocklist) {
      finding.effect = !listed                ? "does not name this host"
                       : outcome.host_blocked ? "the host is blocked by NativeMessagingBlocklist"
                                              : "names this host, but NativeMessagingAllowlist "
                                                "lets it through";
      finding.stops_host = outcome.host_blocked;
    } else {
      finding.effect = names(allowlist, name) ? "allowed by NativeMessagingAllowlist"
                                              : "does not name this host";
    }
    outcome.findings.push_back(std::move(finding));
  }
  return outcome;
}

std::optional<bool> policy_flag(const std::vector<platform::RegistryValue>& values,
                                std::string_view name) {
  const platform::RegistryValue* value = value_named(values, name);
  if (value == nullptr) return std::nullopt;
  if (const auto* number = std::get_if<std::uint32_t>(&value->data)) return *number != 0;
  const auto number = whole_integer(std::get<std::string>(value->data));
  if (!number) return std::nullopt;
  return *number != 0;
}

std::optional<std::vector<std::string>> policy_list(
    const std::vector<platform::RegistryValue>* subkey_values,
    const std::vector<platform::RegistryValue>& key_values, std::string_view name) {
  std::vector<std::string> entries;
  if (subkey_values != nullptr) {
    for (const platform::RegistryValue& value : *subkey_values) {
      const auto* text = std::get_if<std::string>(&value.data);
      if (text && whole_integer(value.name)) entries.push_back(*text);
    }
    return entries;
  }
  const platform::RegistryValue* value = value_named(key_values, name);
  const auto* text = value ? std::get_if<std::string>(&value->data) : nullptr;
  const auto document = text ? parse_json(*text) : std::nullopt;
  if (!document) return std::nullopt;
  return string_list(document->root());
}

std::optional<PolicyFinding> program_rules_finding(bool per_user_folder) {
  const std::string key(kProgramRulesKey);
  // Each rule is a subkey of the collection; without one nothing is
  // enforced, whatever EnforcementMode says (AppLocker's policy as Group
  // Policy writes it below SrpV2).
  const auto rules = platform::count_registry_subkeys(RegistryHive::kLocalMachine, key);
  if (!rules || !*rules || **rules == 0) return std::nullopt;
  const auto values = platform::read_registry_values(RegistryHive::kLocalMachine, key);
  const platform::RegistryValue* mode =
      values && *values ? value_named(**values, "EnforcementMode") : nullptr;
  const auto* mode_number = mode ? std::get_if<std::uint32_t>(&mode->data) : nullptr;
  if (mode_number && *mode_number == 0) return std::nullopt;
  PolicyFinding finding{"AppLocker", registry_text(Scope::kMachine, key), "", "", false};
  finding.effect = per_user_folder ? "rules for programs are set by policy; they commonly block "
                                     "programs in per-user folders such as this host's: " +
                                         std::string(kPerMachineAdvice)
                                   : "rules for programs are set by policy; the host lies outside "
                                     "the per-user folders";
  return finding;
}

}  // namespace tolvanik::registration
