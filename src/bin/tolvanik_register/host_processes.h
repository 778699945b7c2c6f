// How many hosts run for this user: a browser that fails to end its hosts
// leaves them behind, each holding a pipe and perhaps waiting for the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvanik::registration {

// A browser runs one host per open port and one per message in flight;
// more than this many at once means hosts are being left behind.
inline constexpr std::size_t kPlausibleHostCount = 8;

struct HostProcesses {
  std::size_t count = 0;
  std::int64_t oldest_seconds = 0;
  // Why the processes could not be counted.
  std::optional<std::string> failure;

  bool too_many() const { return count > kPlausibleHostCount; }
};

HostProcesses count_host_processes();

// The line check prints about them, without its "hosts: " head.
std::string describe(const HostProcesses& hosts);

}  // namespace tolvanik::registration
