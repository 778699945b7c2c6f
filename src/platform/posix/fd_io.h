// Helpers shared by the POSIX implementations of the platform layer.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <system_error>

namespace tolvanik::platform {

// The system's description of the last failed call.
inline std::string last_error_text() { return std::generic_category().message(errno); }

// Writes all of `bytes`, continuing short and interrupted writes.
inline bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace tolvanik::platform
