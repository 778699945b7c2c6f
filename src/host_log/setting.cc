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
  const std::string_view root = hive == platform::RegistryHive::kLocalMachine ? "HKLM" : "HKCU";
  return std::string(root) + "\\" + std::string(kLogSwitchKey) + "\\" +
         std::string(kLogSwitchValue);
}

HostLogSetting host_log_switch() {
  HostLogSetting setting;
  if (platform::environment_variable(kLogSwitchVariable) == "1") {
    setting.switched_by = std::string(kLogSwitchVariable) + "=1";
  } else if (platform::has_registry()) {
    for (const auto hive :
         {platform::RegistryHive::kCurrentUser, platform::RegistryHive::kLocalMachine}) {
      if (!registry_switch_on(hive)) continue;
      setting.switched_by = log_switch_name(hive);
      break;
    }
  }
  setting.on = !setting.switched_by.empty();
  return setting;
}

HostLogSetting host_log_setting() {
  HostLogSetting setting = host_log_switch();
  if (const auto folder = platform::per_user_state_directory(kProgramName)) {
    setting.path = *folder + platform::kPathSeparator + std::string(kLogFileName);
  }
  setting.on = setting.on && !setting.path.empty();
  return setting;
}

}  // namespace tolvanik
