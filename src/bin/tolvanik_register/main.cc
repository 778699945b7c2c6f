// Registers tolvanik_host with the browsers, removes the registration, and
// checks that a browser would find and reach the host.

#include <iostream>
#include <string>
#include <vector>

#include "bin/tolvanik_register/check.h"
#include "bin/tolvanik_register/install.h"
#include "bin/tolvanik_register/log_action.h"
#include "bin/tolvanik_register/options.h"
#include "platform/environment.h"
#include "tolvanik_version.h"

namespace {

using namespace tolvanik::registration;

int print_lines(const std::expected<std::vector<std::string>, std::string>& result,
                std::string_view nothing_done) {
  if (!result) {
    std::cerr << "tolvanik_register: " << result.error() << "\n";
    return 1;
  }
  for (const auto& line : *result) std::cout << line << "\n";
  if (result->empty()) std::cout << nothing_done << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = tolvanik::platform::program_arguments(argc, argv);
  const auto options = parse_options(arguments);
  if (!options) {
    std::cerr << "tolvanik_register: " << options.error() << "\n";
    return 2;
  }
  switch (options->action) {
    case Action::kInstall:
      return print_lines(install(*options), "nothing to write");
    case Action::kUninstall:
      return print_lines(uninstall(*options),
                         "nothing to remove: " + options->name + " was not registered there");
    case Action::kCheck:
      return run_check(*options, std::cout);
    case Action::kLog:
      return run_log(*options, std::cout, std::cerr);
    case Action::kVersion:
      std::cout << "tolvanik_register " << TOLVANIK_VERSION << "\n";
      return 0;
    case Action::kHelp:
      std::cout << usage_text();
      return 0;
  }
  return 2;
}
