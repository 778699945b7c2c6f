// The command line of tolvanik_register.
#pragma once

#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bin/tolvanik_register/browsers.h"
#include "identity/extension_identity.h"

namespace tolvanik::registration {

enum class Action { kInstall, kUninstall, kCheck, kLog, kVersion, kHelp };

inline constexpr std::string_view kDefaultHostName = "io.tolvanik.host";

struct Options {
  Action action = Action::kHelp;
  std::string name{kDefaultHostName};
  // The extensions allowed to talk to the host, per family: origins
  // (--origin) for the Chromium family, add-on ids (--extension-id) for
  // Firefox.
  std::map<const Family*, std::vector<std::string>> allowed{{&kChromiumFamily, {}},
                                                            {&kFirefoxFamily, {}}};
  // Every browser unless --browser narrows the list; for install, every
  // browser whose extension identity was given.
  std::vector<const Browser*> browsers;
  bool all_users = false;
  // check prints one JSON object instead of its lines.
  bool json = false;
  std::optional<std::string> profile;
  std::optional<std::string> host;
  // For log: on or off; nothing to show the log.
  std::optional<bool> log_switch;
};

// The browsers' rule for host names: lower-case letters, digits, "_" and
// ".", with no dot at either end and never two in a row.
bool is_valid_host_name(std::string_view name);

// Reads the arguments after the program name. The error is one line that
// names the argument to fix.
std::expected<Options, std::string> parse_options(std::span<const std::string> arguments);

std::string usage_text();

}  // namespace tolvanik::registration
