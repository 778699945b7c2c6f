// Whether the host keeps its log, and where the log lies. The log is off
// unless switched on by the environment or, on Windows, the registry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tolvanik {

// "1" switches the log on for the hosts this environment starts.
inline constexpr std::string_view kLogSwitchVariable = "TOLVANIK_HOST_LOG";
// A DWORD value `Log` of 1 under this key switches the log on: below
// HKEY_CURRENT_USER for one user, below HKEY_LOCAL_MACHINE for every user.
inline constexpr std::string_view kLogSwitchKey = "Software\\Tolvanik\\Tolvanik Host";
inline constexpr std::string_view kLogSwitchValue = "Log";

struct HostLogSetting {
  bool on = false;
  // The log file's full path; empty when the environment names no folder
  // for it, and then there is no log.
  std::string path;
  // What switched the log on, as a person would look it up; empty when off.
  std::string switched_by;
};

// What switched the log on, as a person would look it up; nothing when it
// is off. Reads one environment variable, then the registry values, and
// nothing else.
std::optional<std::string> log_switched_on_by();

// The log file's full path: "host.log" in the folder of the host's
// per-user state; empty when the environment names no such folder.
std::string host_log_path();

HostLogSetting host_log_setting();

// The registry value that switches the log on in `hive`, as written in
// messages: "HKCU\Software\...\Log".
std::string log_switch_name(platform::RegistryHive hive);

}  // namespace tolvanik
