#include "platform/std_streams.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/fd_io.h"

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

bool write_stdout_all(std::string_view bytes) { return write_all(STDOUT_FILENO, bytes); }

void exit_process(int status) { _exit(status); }

}  // namespace tolvanik::platform
