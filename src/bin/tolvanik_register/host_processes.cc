#include "bin/tolvanik_register/host_processes.h"

#include <filesystem>

#include "platform/process.h"
#include "platform/running_programs.h"

namespace tolvanik::registration {

HostProcesses count_host_processes() {
  const std::string file_name =
      std::filesystem::path(platform::sibling_program_path("tolvanik_host")).filename().string();
  const auto running = platform::running_programs(file_name);
  if (!running) return {.count = 0, .oldest_seconds = 0, .failure = running.error()};
  return {.count = running->count, .oldest_seconds = running->oldest.count(), .failure = {}};
}

std::string describe(const HostProcesses& hosts) {
  if (hosts.failure) return "could not be counted: " + *hosts.failure;
  if (hosts.count == 0) return "none running";
  std::string text = std::to_string(hosts.count) + " running, the oldest for " +
                     std::to_string(hosts.oldest_seconds) + " s";
  if (hosts.too_many()) {
    text += "; warning: more than the " + std::to_string(kPlausibleHostCount) +
            " a browser needs at once, hosts are being left behind: end them, and "
            "find the browser or program that starts them";
  }
  return text;
}

}  // namespace tolvanik::registration
