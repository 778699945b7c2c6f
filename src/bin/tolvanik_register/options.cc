#include "bin/tolvanik_register/options.h"

#include <algorithm>
#include <map>
#include <string>

#include "bin/tolvanik_register/log_action.h"
#include "host_log/setting.h"

namespace tolvanik::registration {
namespace {

std::expected<Action, std::string> parse_action(std::string_view word) {
  static const std::map<std::string_view, Action> kActions{
      {"install", Action::kInstall}, {"uninstall", Action::kUninstall},
      {"check", Action::kCheck},     {"--version", Action::kVersion},
      {"--help", Action::kHelp},     {"-h", Action::kHelp},
      {"log", Action::kLog}};
  const auto found = kActions.find(word);
  if (found == kActions.end()) {
    return std::unexpected("unknown command \"" + std::string(word) +
                           "\": use install, uninstall, check, log, --version or --help");
  }
  return found->second;
}

// Every browser's id, in the tool's order: "chrome, edge, ..." with
// `last_joiner` before the last.
std::string browser_ids(std::string_view last_joiner) {
  std::string ids;
  const auto browsers = all_browsers();
  for (std::size_t index = 0; index < browsers.size(); ++index) {
    if (index > 0) ids += index + 1 == browsers.size() ? last_joiner : ", ";
    ids += browsers[index].id;
  }
  return ids;
}

std::expected<std::vector<const Browser*>, std::string> parse_browsers(std::string_view list) {
  std::vector<const Browser*> browsers;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    const std::string_view id = list.substr(start, end - start);
    const Browser* browser = find_browser(id);
    if (browser == nullptr) {
      return std::unexpected("unknown browser \"" + std::string(id) + "\" in --browser: use " +
                             browser_ids(" or "));
    }
    if (std::ranges::find(browsers, browser) == browsers.end()) browsers.push_back(browser);
    start = end + 1;
  }
  return browsers;
}

// The family whose extensions `option` names, or null.
const Family* family_of_option(std::string_view option) {
  for (const Family* family : kFamilies) {
    if (family->id_option == option) return family;
  }
  return nullptr;
}

// The option that takes no value, or null.
bool* flag_of(Options& options, std::string_view option) {
  if (option == "--all-users") return &options.all_users;
  if (option == "--json") return &options.json;
  return nullptr;
}

// Which options each action takes besides --name.
bool takes_option(Action action, std::string_view option) {
  if (action == Action::kLog) return option == "--all-users";
  if (option == "--name" || option == "--browser" || option == "--profile") return true;
  if (option == "--all-users") return action != Action::kCheck;
  if (option == "--json") return action == Action::kCheck;
  if (option == "--host" || family_of_option(option)) return action == Action::kInstall;
  return false;
}

class Parser {
 public:
  explicit Parser(Options& options) : options_(options) {}

  std::expected<void, std::string> apply(std::string_view option, std::string_view value) {
    if (option == "--name") {
      if (!is_valid_host_name(value)) {
        return std::unexpected("invalid --name \"" + std::string(value) +
                               "\": use lower-case letters, digits, \"_\" and single dots inside");
      }
      options_.name = value;
    } else if (const Family* family = family_of_option(option)) {
      if (!family->is_valid_entry(value)) {
        return std::unexpected("invalid " + std::string(option) + " \"" + std::string(value) +
                               "\": write " + std::string(family->id_hint));
      }
      options_.allowed.at(family).emplace_back(value);
    } else if (option == "--browser") {
      auto browsers = parse_browsers(value);
      if (!browsers) return std::unexpected(browsers.error());
      browser_given_ = true;
      options_.browsers = std::move(*browsers);
    } else if (option == "--profile") {
      if (value.empty()) return std::unexpected("--profile needs a folder");
      options_.profile = value;
    } else {
      if (value.empty()) return std::unexpected("--host needs the path of tolvanik_host");
      options_.host = value;
    }
    return {};
  }

  bool browser_given() const { return browser_given_; }

 private:
  Options& options_;
  bool browser_given_ = false;
};

bool has_identity_for(const Options& options, const Browser& browser) {
  return !options.allowed.at(browser.family).empty();
}

// Install registers the browsers it has an extension identity for: those
// named in --browser must all have one; without --browser, those that do.
std::expected<void, std::string> check_identities(Options& options, bool browser_given) {
  if (options.action != Action::kInstall) return {};
  if (std::ranges::all_of(options.allowed,
                          [](const auto& entry) { return entry.second.empty(); })) {
    return std::unexpected(
        "install needs --origin chrome-extension://<extension id>/ for the extension "
        "(--extension-id <add-on id> for Firefox)");
  }
  for (const Family* family : kFamilies) {
    if (!options.profile || family->reads_profile_folder || options.allowed.at(family).empty()) {
      continue;
    }
    return std::unexpected(std::string(family->id_option) + " and --profile exclude each other: " +
                           std::string(family->name) + " reads no manifest from a profile folder");
  }
  if (options.profile) return {};
  if (!browser_given) {
    std::erase_if(options.browsers,
                  [&](const Browser* browser) { return !has_identity_for(options, *browser); });
    return {};
  }
  for (const Browser* browser : options.browsers) {
    if (has_identity_for(options, *browser)) continue;
    return std::unexpected("--browser " + std::string(browser->id) + " needs " +
                           std::string(browser->family->id_option) + " " +
                           std::string(browser->family->id_form));
  }
  return {};
}

std::expected<void, std::string> check_combination(Options& options, bool browser_given) {
  if (options.all_users && options.action == Action::kLog && !options.log_switch) {
    return std::unexpected("--all-users goes with log on or log off");
  }
  if (options.profile && options.all_users) {
    return std::unexpected("--profile and --all-users exclude each other: choose one");
  }
  if (options.profile && browser_given) {
    return std::unexpected(
        "--profile and --browser exclude each other: a profile folder serves "
        "the one browser started with it");
  }
  return check_identities(options, browser_given);
}

}  // namespace

bool is_valid_host_name(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return std::ranges::all_of(name, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
  });
}

std::expected<Options, std::string> parse_options(std::span<const std::string> arguments) {
  Options options;
  if (arguments.empty()) {
    return std::unexpected(
        "no command given: use install, uninstall, check, log, --version or --help");
  }
  const auto action = parse_action(arguments.front());
  if (!action) return std::unexpected(action.error());
  options.action = *action;
  const bool takes_options = *action != Action::kVersion && *action != Action::kHelp;
  Parser parser(options);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::string_view option = arguments[i];
    if (*action == Action::kLog && i == 1 && (option == "on" || option == "off")) {
      options.log_switch = option == "on";
      continue;
    }
    std::optional<std::string_view> value;
    if (const std::size_t equals = option.find('='); equals != std::string_view::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
    }
    if (!takes_options || !takes_option(*action, option)) {
      return std::unexpected("unexpected argument \"" + arguments[i] + "\" for " +
                             arguments.front() + ": see --help");
    }
    if (bool* flag = flag_of(options, option)) {
      if (value) return std::unexpected(std::string(option) + " takes no value");
      *flag = true;
      continue;
    }
    if (!value) {
      if (++i == arguments.size()) return std::unexpected(std::string(option) + " needs a value");
      value = arguments[i];
    }
    if (auto applied = parser.apply(option, *value); !applied) {
      return std::unexpected(applied.error());
    }
  }
  if (!parser.browser_given()) {
    for (const Browser& browser : all_browsers()) options.browsers.push_back(&browser);
  }
  if (auto combination = check_combination(options, parser.browser_given()); !combination) {
    return std::unexpected(combination.error());
  }
  return options;
}

std::string usage_text() {
  return std::string(R"(Registers tolvanik_host with Chromium-family browsers and Firefox.

Usage:
  tolvanik_register install --origin chrome-extension://<id>/ [--origin ...] [--name NAME]
                            [--browser LIST] [--all-users] [--profile DIR] [--host PATH]
  tolvanik_register install --extension-id ID [--extension-id ...] [--origin ...]
                            [--name NAME] [--browser LIST] [--all-users] [--host PATH]
  tolvanik_register uninstall [--name NAME] [--browser LIST] [--all-users] [--profile DIR]
  tolvanik_register check [--name NAME] [--browser LIST] [--profile DIR] [--json]
  tolvanik_register log [on | off [--all-users]]
  tolvanik_register --version | --help

  --origin        an extension allowed to talk to the host (32 letters a-p as its id)
  --extension-id  a Firefox add-on allowed to talk to the host (name@example.com or
                  {GUID}); install registers Firefox only when given one
  --name          the host name the extension connects to (default io.tolvanik.host)
  --browser       comma-separated: )") +
         browser_ids(", ") + R"(
                  (default: all; for install, every browser it was given an id for)
  --all-users     register for every user of the machine instead of the current one
  --profile       only for a Chromium-family browser started with --user-data-dir=DIR
  --host          the tolvanik_host to register (default: the one beside this tool)
  --json          check prints one JSON object, to attach to a support request

install replaces an earlier registration of the same name; uninstall removes exactly
what install wrote. check shows every registration each browser finds, in the browser's
order, the policies that decide whether it starts the host, whether the host answers,
and how the storage file is; its status is 0 only when every registered host answers
and the storage file is sound.
log tells whether the host keeps its log, where the file is and its last )" +
         std::to_string(kLogLinesShown) + R"( lines;
log on and log off switch it for hosts started from then on (on Windows; elsewhere
the environment variable )" +
         std::string(kLogSwitchVariable) + R"(=1 switches it on).
)";
}

}  // namespace tolvanik::registration
