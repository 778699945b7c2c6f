#include "platform/std_streams.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

namespace tolvanik::platform {

void prepare_process() {
  // A browser that has closed its end of the pipe must make writes fail,
  // not kill the host.
  signal(SIGPIPE, SIG_IGN);
}

std::size_t read_stdin_some(std::span<char> buffer) {
  while (true) {
    const ssize_t got = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool write_stdout_all(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void exit_process(int status) { _exit(status); }

}  // namespace tolvanik::platform
