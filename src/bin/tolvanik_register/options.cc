#include "bin/tolvanik_register/options.h"

#include <algorithm>
#include <map>

namespace tolvanik::registration {
namespace {

constexpr std::string_view kOriginScheme = "chrome-extension://";
constexpr std::size_t kExtensionIdLength = 32;

std::expected<Action, std::string> parse_action(std::string_view word) {
  static const std::map<std::string_view, Action> kActions{
      {"install", Action::kInstall},   {"uninstall", Action::kUninstall}, {"check", Action::kCheck},
      {"--version", Action::kVersion}, {"--help", Action::kHelp},         {"-h", Action::kHelp}};
  const auto found = kActions.find(word);
  if (found == kActions.end()) {
    return std::unexpected("unknown command \"" + std::string(word) +
                           "\": use install, uninstall, check, --version or --help");
  }
  return found->second;
}

std::expected<std::vector<const Browser*>, std::string> parse_browsers(std::string_view list) {
  std::vector<const Browser*> browsers;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    const std::string_view id = list.substr(start, end - start);
    const Browser* browser = find_browser(id);
    if (browser == nullptr) {
      return std::unexpected("unknown browser \"" + std::string(id) +
                             "\" in --browser: use chrome, edge, chromium, brave or vivaldi");
    }
    if (std::ranges::find(browsers, browser) == browsers.end()) browsers.push_back(browser);
    start = end + 1;
  }
  return browsers;
}

// Which options each action takes besides --name.
bool takes_option(Action action, std::string_view option) {
  if (option == "--name" || option == "--browser" || option == "--profile") return true;
  if (option == "--all-users") return action != Action::kCheck;
  if (option == "--origin" || option == "--host") return action == Action::kInstall;
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
    } else if (option == "--origin") {
      if (!is_valid_origin(value)) {
        return std::unexpected("invalid --origin \"" + std::string(value) +
                               "\": write chrome-extension://<32 letters a-p>/");
      }
      options_.origins.emplace_back(value);
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

std::expected<void, std::string> check_combination(const Options& options, bool browser_given) {
  if (options.action == Action::kInstall && options.origins.empty()) {
    return std::unexpected(
        "install needs --origin chrome-extension://<extension id>/ for the extension");
  }
  if (options.profile && options.all_users) {
    return std::unexpected("--profile and --all-users exclude each other: choose one");
  }
  if (options.profile && browser_given) {
    return std::unexpected(
        "--profile and --browser exclude each other: a profile folder serves "
        "the one browser started with it");
  }
  return {};
}

}  // namespace

bool is_valid_host_name(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '.') return false;
  if (name.find("..") != std::string_view::npos) return false;
  return std::ranges::all_of(name, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
  });
}

bool is_valid_origin(std::string_view origin) {
  if (!origin.starts_with(kOriginScheme) || !origin.ends_with('/')) return false;
  const std::string_view id =
      origin.substr(kOriginScheme.size(), origin.size() - kOriginScheme.size() - 1);
  return id.size() == kExtensionIdLength &&
         std::ranges::all_of(id, [](char c) { return c >= 'a' && c <= 'p'; });
}

std::expected<Options, std::string> parse_options(std::span<const std::string> arguments) {
  Options options;
  if (arguments.empty()) {
    return std::unexpected("no command given: use install, uninstall, check, --version or --help");
  }
  const auto action = parse_action(arguments.front());
  if (!action) return std::unexpected(action.error());
  options.action = *action;
  const bool takes_options = *action != Action::kVersion && *action != Action::kHelp;
  Parser parser(options);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::string_view option = arguments[i];
    std::optional<std::string_view> value;
    if (const std::size_t equals = option.find('='); equals != std::string_view::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
    }
    if (!takes_options || !takes_option(*action, option)) {
      return std::unexpected("unexpected argument \"" + arguments[i] + "\" for " +
                             arguments.front() + ": see --help");
    }
    if (option == "--all-users") {
      if (value) return std::unexpected("--all-users takes no value");
      options.all_users = true;
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
  return R"(Registers tolvanik_host with Chromium-family browsers.

Usage:
  tolvanik_register install --origin chrome-extension://<id>/ [--origin ...] [--name NAME]
                            [--browser LIST] [--all-users] [--profile DIR] [--host PATH]
  tolvanik_register uninstall [--name NAME] [--browser LIST] [--all-users] [--profile DIR]
  tolvanik_register check [--name NAME] [--browser LIST] [--profile DIR]
  tolvanik_register --version | --help

  --origin      an extension allowed to talk to the host (32 letters a-p as its id)
  --name        the host name the extension connects to (default io.tolvanik.host)
  --browser     comma-separated: chrome, edge, chromium, brave, vivaldi (default all)
  --all-users   register for every user of the machine instead of the current one
  --profile     only for a browser started with --user-data-dir=DIR
  --host        the tolvanik_host to register (default: the one beside this tool)

install replaces an earlier registration of the same name; uninstall removes exactly
what install wrote. check tells whether each browser finds the host and whether it
answers; its status is 0 only when every registered host answers.
)";
}

}  // namespace tolvanik::registration
