#include "bin/tolvanik_register/log_action.h"

#include <cstdint>
#include <string>
#include <vector>

#include "host_log/setting.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace tolvanik::registration {
namespace {

// The last `count` lines of `text`, without their line ends.
std::vector<std::string_view> last_lines(std::string_view text, int count) {
  std::vector<std::string_view> lines;
  while (!text.empty() && static_cast<int>(lines.size()) < count) {
    const std::size_t end = text.ends_with('\n') ? text.size() - 1 : text.size();
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    const std::size_t from = start == std::string_view::npos ? 0 : start + 1;
    std::string_view line = text.substr(from, end - from);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.insert(lines.begin(), line);
    text = text.substr(0, from);
  }
  return lines;
}

void show_log(std::ostream& out) {
  const HostLogSetting setting = host_log_setting();
  out << "log: " << (setting.on ? "on, switched on by " + setting.switched_by : "off") << "\n";
  if (setting.path.empty()) {
    out << "file: none: the environment names no folder for it\n";
    return;
  }
  const auto text = platform::read_whole_file(setting.path);
  if (!text) {
    out << "file: " << setting.path
        << (platform::file_exists(setting.path) ? " (cannot be read: " + text.error() + ")"
                                                : std::string(" (not there)"))
        << "\n";
    return;
  }
  out << "file: " << setting.path << " (" << text->size() << " bytes)\n";
  const auto lines = last_lines(*text, kLogLinesShown);
  out << "last " << lines.size() << " lines:\n";
  for (const auto line : lines) out << line << "\n";
}

int switch_log(bool on, bool all_users, std::ostream& out, std::ostream& errors) {
  if (!platform::has_registry()) {
    errors << "tolvanik_register: on this system the environment switches the log: "
           << (on ? "set " : "unset ") << kLogSwitchVariable << (on ? "=1" : "")
           << " where the browser is started\n";
    return 1;
  }
  const auto hive =
      all_users ? platform::RegistryHive::kLocalMachine : platform::RegistryHive::kCurrentUser;
  const std::string key(kLogSwitchKey);
  const std::string value(kLogSwitchValue);
  const auto changed = on ? platform::write_registry_dword(hive, key, value, 1)
                          : platform::delete_registry_value(hive, key, value);
  if (!changed) {
    errors << "tolvanik_register: cannot " << (on ? "set " : "remove ") << log_switch_name(hive)
           << ": " << changed.error() << "\n";
    return 1;
  }
  out << (on ? "set " : "removed ") << log_switch_name(hive) << (on ? " = 1" : "") << "\n";
  const HostLogSetting setting = host_log_setting();
  out << "log: " << (setting.on ? "on" : "off") << " for hosts started from now on";
  if (!on && setting.on) out << ": it stays on through " << setting.switched_by;
  out << "\n";
  return 0;
}

}  // namespace

int run_log(const Options& options, std::ostream& out, std::ostream& errors) {
  if (!options.log_switch) {
    show_log(out);
    return 0;
  }
  return switch_log(*options.log_switch, options.all_users, out, errors);
}

}  // namespace tolvanik::registration
