#include "host_log/setting.h"

#include "platform/environment.h"
#include "platform/log_file.h"

namespace tolvanik {
namespace {

constexpr std::string_view kProgramName = "Tolvanik Host";
constexpr std::string_view kLogFileName = "host.log";

bool registry_switch_on(platform::RegistryHive hive) {
  const auto value =
      platform::read_registry_dword(hive, std::string(kLogSwitchKey), std::string(kLogSwitchValue));
  return value && *value == 1u;
}

}  // namespace

std::string log_switch_name(platform::RegistryHive hive) {
  return platform::registry_key_text(
      hive, std::string(kLogSwitchKey) + "\\" + std::string(kLogSwitchValue));
}

std::optional<std::string> log_switched_on_by() {
  if (platform::environment_variable(kLogSwitchVariable) == "1") {
    return std::string(kLogSwitchVariable) + "=1";
  }
  if (!platform::has_registry()) return std::nullopt;
  for (const auto hive :
       {platform::RegistryHive::kCurrentUser, platform::RegistryHive::kLocalMachine}) {
    if (registry_switch_on(hive)) return log_switch_name(hive);
  }
  return std::nullopt;
}

std::string host_log_path() {
  const auto folder = platform::per_user_state_directory(kProgramName);
  if (!folder) return {};
  return *folder + platform::kPathSeparator + std::string(kLogFileName);
}

HostLogSetting host_log_setting() {
  HostLogSetting setting;
  setting.path = host_log_path();
  if (auto by = log_switched_on_by(); by && !setting.path.empty()) {
    setting.on = true;
    setting.switched_by = std::move(*by);
  }
  return setting;
}

}  // namespace tolvanik
