#include "platform/running_programs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/fd_io.h"

namespace tolvanik::platform {
namespace {

std::string first_line(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The seconds since boot at which process `pid` started, from the 22nd
// field of its stat line (after the name in parentheses, which may hold
// spaces); -1 when it cannot be read.
double started_after_boot(const std::string& pid) {
  const std::string stat = first_line("/proc/" + pid + "/stat");
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return -1;
  std::istringstream fields(stat.substr(name_end + 2));
  std::string field;
  // The state is field 3; the start time field 22.
  for (int index = 3; index <= 22; ++index) {
    if (!(fields >> field)) return -1;
  }
  return std::strtod(field.c_str(), nullptr) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

std::expected<RunningPrograms, std::string> running_programs(std::string_view file_name) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return std::unexpected(last_error_text());
  const double uptime = std::strtod(first_line("/proc/uptime").c_str(), nullptr);
  const std::string own = std::to_string(getpid());
  RunningPrograms found;
  while (const dirent* entry = readdir(processes)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == own) continue;
    struct stat owner {};
    if (stat(("/proc/" + pid).c_str(), &owner) != 0 || owner.st_uid != getuid()) continue;
    // The kernel keeps the first 15 bytes of the program's file name.
    if (first_line("/proc/" + pid + "/comm") != file_name.substr(0, 15)) continue;
    ++found.count;
    const double started = started_after_boot(pid);
    if (started >= 0 && uptime > started) {
      found.oldest =
          std::max(found.oldest, std::chrono::seconds(static_cast<long>(uptime - started)));
    }
  }
  closedir(processes);
  return found;
}

}  // namespace tolvanik::platform
