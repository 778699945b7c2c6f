#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

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

// Reads both pipes until each has ended, so that the child can never stall
// on a full pipe. Only the first pipe's bytes are kept.
bool drain(int kept, int discarded, std::string& out) {
  std::array<pollfd, 2> fds{{{kept, POLLIN, 0}, {discarded, POLLIN, 0}}};
  int open_count = 2;
  char chunk[4096];
  while (open_count > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (auto& fd : fds) {
      if (fd.fd < 0 || fd.revents == 0) continue;
      const ssize_t got = read(fd.fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fd.fd = -1;
        --open_count;
      } else if (fd.fd == kept) {
        out.append(chunk, static_cast<std::size_t>(got));
      }
    }
  }
  return true;
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

std::expected<std::string, std::string> run_and_capture(const std::string& program,
                                                        const std::vector<std::string>& arguments) {
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

  std::string captured;
  const bool drained = drain(output.read_end, errors.read_end, captured);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(last_error_text());
  }
  if (!drained) return std::unexpected("reading the child's output failed");
  return captured;
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
  char chunk[4096];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd output{from_child.read_end, POLLIN, 0};
    const int ready = left.count() > 0 ? poll(&output, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t got = read(from_child.read_end, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.output.append(chunk, static_cast<std::size_t>(got));
  }
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    usleep(10'000);
  }
  if (ended == child) {
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
  }
  kill(child, SIGKILL);
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

}  // namespace tolvanik::platform
