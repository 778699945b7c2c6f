#include "platform/std_streams.h"

#include <errno.h>
#include <poll.h>
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

namespace {

// The events `fd` reports right now, without waiting.
short pending_events(int fd, short wanted) {
  pollfd stream{fd, wanted, 0};
  while (true) {
    const int ready = poll(&stream, 1, 0);
    if (ready >= 0) return ready == 0 ? 0 : stream.revents;
    if (errno != EINTR) return 0;
  }
}

}  // namespace

// A pipe without writers reports a hang-up, whether or not bytes are left
// in it; a file or a terminal never does.
bool stdin_ended() { return (pending_events(STDIN_FILENO, POLLIN) & POLLHUP) != 0; }

// A pipe whose reader has gone reports an error to the writer's poll; a
// socket reports a hang-up.
std::optional<bool> stdout_reader_closed() {
  return (pending_events(STDOUT_FILENO, POLLOUT) & (POLLERR | POLLHUP)) != 0;
}

void exit_process(int status) { _exit(status); }

}  // namespace tolvanik::platform
