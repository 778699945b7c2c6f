#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/capture_clock.h"
#include "platform/environment.h"
#include "platform/posix/fd_io.h"

extern char** environ;

namespace tolvanik::platform {
namespace {

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string own_directory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return {};
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/'));
}

// Closes both ends of a pipe that was not handed on.
struct Pipe {
  int read_end = -1;
  int write_end = -1;
  ~Pipe() {
    if (read_end >= 0) close(read_end);
    if (write_end >= 0) close(write_end);
  }
  bool open() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read_end = ends[0];
    write_end = ends[1];
    return true;
  }
  void close_write_end() {
    close(write_end);
    write_end = -1;
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

// Starts `program` with `arguments` and the standard streams `spawn` sets
// up; the child's process id, or why it could not start.
std::expected<pid_t, std::string> spawn_program(const std::string& program,
                                                const std::vector<std::string>& arguments,
                                                const SpawnActions& spawn) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned =
      posix_spawn(&child, program.c_str(), &spawn.actions, nullptr, argv.data(), environ);
  if (spawned != 0) return std::unexpected(std::generic_category().message(spawned));
  return child;
}

// Reads both pipes until each has ended and, when `exited` is open, until
// it reports the child's end, so that the child can never stall on a full
// pipe. Only the first pipe's bytes are kept. Stops early when `clock` says.
std::expected<CaptureStop, std::string> drain(int kept, int discarded, int exited, std::string& out,
                                              CaptureClock& clock) {
  std::array<pollfd, 3> fds{{{kept, POLLIN, 0}, {discarded, POLLIN, 0}, {exited, POLLIN, 0}}};
  char chunk[4096];
  while (std::ranges::any_of(fds, [](const pollfd& fd) { return fd.fd >= 0; })) {
    if (const auto stop = clock.stop_now()) return *stop;
    if (poll(fds.data(), fds.size(), clock.wait_milliseconds()) < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(last_error_text());
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (fds[i].fd == exited) {
        fds[i].fd = -1;
        continue;
      }
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;
      } else if (i == 0) {
        out.append(chunk, static_cast<std::size_t>(got));
      }
    }
  }
  return CaptureStop::kFinished;
}

bool reap(pid_t child, int& status) {
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

using Deadline = std::chrono::steady_clock::time_point;

// Reads `fd` until it ends or `deadline` has passed.
void read_until(int fd, Deadline deadline, std::string& out) {
  char chunk[4096];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd readable{fd, POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    out.append(chunk, static_cast<std::size_t>(got));
  }
}

// The child's exit status once it has ended; a child still running at
// `deadline` is killed and has none.
std::optional<int> reap_by(pid_t child, Deadline deadline) {
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    usleep(10'000);
  }
  if (ended == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  kill(child, SIGKILL);
  reap(child, status);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> find_system_program(std::string_view bare_name) {
  std::vector<std::string> directories;
  directories.push_back(own_directory());
  if (const auto path = environment_variable("PATH")) {
    std::size_t start = 0;
    while (start <= path->size()) {
      const std::size_t end = std::min(path->find(':', start), path->size());
      // An empty entry would mean the current directory, which is never searched.
      if (end > start) directories.push_back(path->substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto& directory : directories) {
    if (directory.empty()) continue;
    std::string candidate = directory + "/" + std::string(bare_name);
    if (is_executable_file(candidate)) return candidate;
  }
  return std::nullopt;
}

std::expected<Capture, std::string> run_and_capture(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const CaptureLimits& limits) {
  Pipe output;
  Pipe errors;
  if (!output.open() || !errors.open()) return std::unexpected(last_error_text());

  SpawnActions spawn;
  posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&spawn.actions, output.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&spawn.actions, errors.write_end, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&spawn.actions, STDERR_FILENO + 1);

  const auto spawned = spawn_program(program, arguments, spawn);
  if (!spawned) return std::unexpected(spawned.error());
  const pid_t child = *spawned;
  output.close_write_end();
  errors.close_write_end();

  // The child's end becomes something to wait for beside its pipes, so that
  // one that closes them and goes on running is still timed. Without it
  // (an older kernel) the wait for the end is not timed.
  const int exited = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  CaptureClock clock(limits);
  Capture capture;
  const auto drained = drain(output.read_end, errors.read_end, exited, capture.output, clock);
  if (exited >= 0) close(exited);
  if (drained && *drained != CaptureStop::kFinished) {
    kill(child, SIGKILL);
    capture.stop = *drained;
  }
  int status = 0;
  if (!reap(child, status)) return std::unexpected(last_error_text());
  if (!drained) return std::unexpected("reading the child's output failed");
  return capture;
}

std::string sibling_program_path(std::string_view bare_name) {
  return own_directory() + "/" + std::string(bare_name);
}

std::expected<ChildRun, std::string> run_with_input(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const std::string& working_directory,
                                                    std::string_view input,
                                                    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Pipe to_child;
  Pipe from_child;
  if (!to_child.open() || !from_child.open()) return std::unexpected(last_error_text());

  SpawnActions spawn;
  posix_spawn_file_actions_adddup2(&spawn.actions, to_child.read_end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&spawn.actions, from_child.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&spawn.actions, STDERR_FILENO + 1);
  posix_spawn_file_actions_addchdir_np(&spawn.actions, working_directory.c_str());
  const auto spawned = spawn_program(program, arguments, spawn);
  if (!spawned) return std::unexpected(spawned.error());
  const pid_t child = *spawned;
  from_child.close_write_end();
  close(to_child.read_end);
  to_child.read_end = -1;
  // A child that ends without reading makes the write fail, which is its
  // answer too; the input fits the pipe, so the write never blocks.
  write_all(to_child.write_end, input);
  to_child.close_write_end();

  ChildRun run;
  read_until(from_child.read_end, deadline, run.output);
  run.exit_status = reap_by(child, deadline);
  return run;
}

}  // namespace tolvanik::platform
