#include "harness.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "messaging/json.h"

extern char** environ;

namespace tolvanik::blackbox {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

std::string exe_suffix(Target target) { return target == Target::wine ? ".exe" : ""; }

// The suite is built once, natively; it runs the hosts of the sanitizer
// builds when pointed at their folder.
fs::path native_build_dir() {
  // Absolute, since the programs start in each test's own directory.
  if (const char* dir = std::getenv("TOLVANIK_NATIVE_BUILD_DIR"); dir && *dir) {
    return fs::absolute(dir);
  }
  return TOLVANIK_NATIVE_BUILD_DIR;
}

fs::path windows_build_dir() {
  if (const char* dir = std::getenv("TOLVANIK_WINDOWS_BUILD_DIR"); dir && *dir) return dir;
  return TOLVANIK_DEFAULT_WINDOWS_BUILD_DIR;
}

fs::path build_dir(Target target) {
  return target == Target::wine ? windows_build_dir() : native_build_dir();
}

std::map<std::string, std::string> own_environment() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text = *entry;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    environment.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return environment;
}

fs::path make_temp_dir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/" + prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  return pattern;
}

std::string trim_line_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Runs a helper command to its end and yields its standard output.
std::optional<std::string> run_to_end(const std::vector<std::string>& argv) {
  auto child = ChildProcess::start(argv, own_environment(), fs::temp_directory_path());
  if (!child) return std::nullopt;
  child->close_input();
  const auto status = child->wait_exit();
  if (status != 0) return std::nullopt;
  return child->output_bytes();
}

// Starts a helper command with no pipe of ours among its standard streams,
// for a command that leaves processes behind: its input comes from `input`
// (the null device when -1), its output and errors are appended to `log`.
// Yields its process id, or nothing.
std::optional<pid_t> start_unpiped(const std::vector<std::string>& argv, const fs::path& log,
                                   int input = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0) {
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  return pid;
}

// Runs a helper command to its end as start_unpiped does; true when it
// ended with status 0.
bool run_unpiped(const std::vector<std::string>& argv, const fs::path& log = "/dev/null") {
  const auto pid = start_unpiped(argv, log);
  if (!pid) return false;
  int status = 0;
  while (waitpid(*pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One Wine prefix for the whole run: taken from WINEPREFIX when the caller
// made one, otherwise created here and removed at exit. Programs under Wine
// get the prefix's own APPDATA, found once here.
//
// Wine's services (services.exe, winedevice.exe, ...) start with the first
// Wine program and write to its standard error, and a driver host of theirs
// now and then faults while it starts. So they start here, under programs
// whose output goes to wine-services.log in the build directory, and a
// program that waits on a pipe of this process until it ends keeps them
// from ever shutting down and starting again under a test's host.
class WineSession {
 public:
  static WineSession& get() {
    static WineSession session;
    return session;
  }

  const std::optional<fs::path>& appdata() const { return appdata_; }
  const std::optional<fs::path>& local_appdata() const { return local_appdata_; }
  const std::string& problem() const { return problem_; }

 private:
  WineSession() {
    setenv("WINEDEBUG", "-all", 1);
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix) {
      owned_prefix_ = make_temp_dir("tolvanik-blackbox-wine-");
      setenv("WINEPREFIX", owned_prefix_.c_str(), 1);
      // Without a persistent server every Wine start after a pause of a few
      // seconds boots the prefix's services again, which takes seconds.
      run_unpiped({"wineserver", "-p"});
    }
    start_services();
    appdata_ = folder_of("APPDATA");
    if (appdata_) local_appdata_ = folder_of("LOCALAPPDATA");
  }

  // The Unix path of the folder a Windows environment variable names.
  std::optional<fs::path> folder_of(const std::string& variable) {
    const auto windows_path = run_to_end({"wine", "cmd", "/c", "echo %" + variable + "%"});
    if (!windows_path) {
      problem_ = "could not ask Wine for " + variable;
      return std::nullopt;
    }
    const auto unix_path = run_to_end({"winepath", "-u", trim_line_end(*windows_path)});
    if (!unix_path) {
      problem_ = "winepath could not map " + trim_line_end(*windows_path);
      return std::nullopt;
    }
    return fs::path(trim_line_end(*unix_path));
  }

  void start_services() {
    const fs::path log = native_build_dir() / "wine-services.log";
    std::ofstream(log, std::ios::trunc);
    run_unpiped({"wine", "cmd", "/c", "exit"}, log);
    int keeper_input[2];
    if (pipe2(keeper_input, O_CLOEXEC) != 0) return;
    // It waits for input that never comes; its input ends with this process,
    // however that ends.
    start_unpiped({"wine", "cmd", "/c", "pause"}, log, keeper_input[0]);
    close(keeper_input[0]);
    keeper_input_ = keeper_input[1];
  }

  // Runs at exit: a prefix made here goes away with its server.
  ~WineSession() {
    if (keeper_input_ >= 0) close(keeper_input_);
    if (owned_prefix_.empty()) return;
    // The server writes the registry into the prefix as it goes down.
    run_unpiped({"wineserver", "-k"});
    run_unpiped({"wineserver", "-w"});
    std::error_code ignored;
    fs::remove_all(owned_prefix_, ignored);
  }

  fs::path owned_prefix_;
  int keeper_input_ = -1;
  std::optional<fs::path> appdata_;
  std::optional<fs::path> local_appdata_;
  std::string problem_;
};

}  // namespace

std::string length_prefix(std::uint32_t length) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes;
}

std::string frame(std::string_view payload) {
  return length_prefix(static_cast<std::uint32_t>(payload.size())) + std::string(payload);
}

std::string pong_payload() { return R"({"message":"Hello from Windows!","type":"pong"})"; }

std::string unknown_command_payload() { return R"({"message":"Unknown command","type":"error"})"; }

bool native_host_is_sanitized() { return fs::exists(native_build_dir() / "sanitized-build"); }

std::string target_name(const testing::TestParamInfo<Target>& info) {
  return info.param == Target::wine ? "wine" : "native";
}

void PrintTo(Target target, std::ostream* out) {
  *out << (target == Target::wine ? "wine" : "native");
}

// ---------------------------------------------------------------------------
// ChildProcess

std::unique_ptr<ChildProcess> ChildProcess::start(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
    const fs::path& working_directory, std::string_view queued_input) {
  int input[2], output[2], errors[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return nullptr;
  }
  // A pipe holds at least 64 KiB, so this never waits for a reader.
  if (queued_input.size() > 65536 || write(input[1], queued_input.data(), queued_input.size()) !=
                                         static_cast<ssize_t>(queued_input.size())) {
    ADD_FAILURE() << "cannot queue " << queued_input.size() << " bytes of input";
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());

  // Its own process group, so that kill() also ends what the child started;
  // and the default SIGPIPE disposition this test program gave up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> environment_block;
  for (auto& entry : entries) environment_block.push_back(entry.data());
  environment_block.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv.at(0).c_str(), &actions, &attributes,
                                   arguments.data(), environment_block.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(input[0]);
  close(output[1]);
  close(errors[1]);
  if (spawned != 0) {
    close(input[1]);
    close(output[0]);
    close(errors[0]);
    ADD_FAILURE() << "cannot start " << argv.at(0) << ": " << std::strerror(spawned);
    return nullptr;
  }

  std::unique_ptr<ChildProcess> child(new ChildProcess());
  ChildProcess& process = *child;
  process.pid_ = pid;
  process.input_fd_ = input[1];
  fcntl(process.input_fd_, F_SETFL, fcntl(process.input_fd_, F_GETFL) | O_NONBLOCK);
  process.output_reader_ =
      std::thread([&process, fd = output[0]] { process.collect(fd, process.output_); });
  process.error_reader_ =
      std::thread([&process, fd = errors[0]] { process.collect(fd, process.errors_); });
  return child;
}

ChildProcess::~ChildProcess() {
  kill();
  close_input();
  output_reader_.join();
  error_reader_.join();
}

void ChildProcess::collect(int fd, Stream& stream) {
  char chunk[65536];
  // Polls with a short time-out so that a stream some grandchild keeps open
  // cannot keep the reader, and the test, waiting once the child has gone.
  int quiet_polls_after_exit = 0;
  while (true) {
    pollfd wanted{fd, POLLIN, 0};
    const int ready = poll(&wanted, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      std::lock_guard lock(mutex_);
      if (status_ && ++quiet_polls_after_exit > 50) break;
      if (&stream == &output_ && output_closing_) break;
      continue;
    }
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard lock(mutex_);
    if (&stream == &output_ && output_closing_) break;
    stream.bytes.append(chunk, static_cast<std::size_t>(got));
    changed_.notify_all();
  }
  close(fd);
  std::lock_guard lock(mutex_);
  stream.ended = true;
  changed_.notify_all();
}

template <typename Ready>
bool ChildProcess::wait_for(Stream& stream, std::chrono::milliseconds timeout, Ready ready) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return ready() || stream.ended; }) && ready();
}

bool ChildProcess::write_input(std::string_view bytes, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!bytes.empty()) {
    if (input_fd_ < 0) return false;
    const ssize_t written = write(input_fd_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= 0ms) return false;
    pollfd wanted{input_fd_, POLLOUT, 0};
    poll(&wanted, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
  }
  return true;
}

void ChildProcess::close_input() {
  if (input_fd_ >= 0) close(input_fd_);
  input_fd_ = -1;
}

void ChildProcess::close_output() {
  std::unique_lock lock(mutex_);
  output_closing_ = true;
  changed_.wait(lock, [&] { return output_.ended; });
}

std::optional<std::string> ChildProcess::read_frame(std::chrono::milliseconds timeout) {
  const auto frame_length = [&]() -> std::optional<std::size_t> {
    const std::size_t unread = output_.bytes.size() - output_.taken;
    if (unread < 4) return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
      length = (length << 8) | static_cast<unsigned char>(output_.bytes[output_.taken + i]);
    }
    if (unread < 4 + std::size_t{length}) return std::nullopt;
    return length;
  };
  if (!wait_for(output_, timeout, [&] { return frame_length().has_value(); })) return std::nullopt;
  std::lock_guard lock(mutex_);
  const std::size_t length = *frame_length();
  std::string payload = output_.bytes.substr(output_.taken + 4, length);
  output_.taken += 4 + length;
  return payload;
}

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds timeout) {
  const auto line_end = [&] { return output_.bytes.find('\n', output_.taken); };
  if (!wait_for(output_, timeout, [&] { return line_end() != std::string::npos; })) {
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  const std::size_t end = line_end();
  std::string line = output_.bytes.substr(output_.taken, end - output_.taken);
  output_.taken = end + 1;
  return trim_line_end(std::move(line));
}

bool ChildProcess::has_exited() {
  std::lock_guard lock(mutex_);
  if (status_) return true;
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  changed_.notify_all();
  return true;
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!has_exited()) {
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
  // The output pipes drain right after the end; wait for that, so that
  // output_bytes() and stderr_text() are complete.
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, std::max(deadline, Clock::now() + 10s),
                      [&] { return output_.ended && errors_.ended; });
  return status_;
}

std::string ChildProcess::output_bytes() {
  std::lock_guard lock(mutex_);
  return output_.bytes;
}

std::string ChildProcess::unread_output() {
  std::lock_guard lock(mutex_);
  return output_.bytes.substr(output_.taken);
}

std::string ChildProcess::stderr_text() {
  std::lock_guard lock(mutex_);
  return errors_.bytes;
}

void ChildProcess::kill() {
  if (has_exited()) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  std::lock_guard lock(mutex_);
  status_ = 128 + SIGKILL;
  changed_.notify_all();
}

// ---------------------------------------------------------------------------
// HostTest

void HostTest::SetUp() {
  signal(SIGPIPE, SIG_IGN);
  const fs::path dir = build_dir(target());
  const fs::path host_binary = dir / ("tolvanik_host" + exe_suffix(target()));
  if (under_wine() && !fs::exists(host_binary)) {
    GTEST_SKIP() << "no Windows build: " << host_binary
                 << " does not exist (build it with scripts/build, or point "
                    "TOLVANIK_WINDOWS_BUILD_DIR at a Windows build directory)";
  }
  fixtures_dir_ = dir / "fixtures";
  const fs::path tasklist = fixtures_dir_ / ("tasklist" + exe_suffix(target()));
  ASSERT_TRUE(fs::exists(host_binary)) << host_binary;
  ASSERT_TRUE(fs::exists(tasklist)) << tasklist;
  if (under_wine()) {
    ASSERT_TRUE(WineSession::get().local_appdata()) << WineSession::get().problem();
  }

  work_dir_ = make_temp_dir("tolvanik-blackbox-");
  host_copy_ = work_dir_ / host_binary.filename();
  fs::copy_file(host_binary, host_copy_);
  fs::copy_file(tasklist, work_dir_ / tasklist.filename());
  tasklist_log_ = work_dir_ / "tasklist.log";
  if (!under_wine()) fs::create_directory(work_dir_ / "appdata");
  fs::remove_all(storage_dir());
}

void HostTest::TearDown() {
  host_.reset();
  std::error_code ignored;
  if (!work_dir_.empty()) fs::remove_all(work_dir_, ignored);
  if (under_wine() && WineSession::get().appdata()) fs::remove_all(storage_dir(), ignored);
}

void HostTest::set_running(const std::vector<std::string>& image_names) {
  std::string joined;
  for (const auto& name : image_names) joined += (joined.empty() ? "" : ";") + name;
  extra_environment_["TOLVANIK_FAKE_TASKLIST_RUNNING"] = joined;
}

void HostTest::remove_tasklist() { fs::remove(work_dir_ / ("tasklist" + exe_suffix(target()))); }

std::vector<HostTest::TasklistStart> HostTest::tasklist_starts() const {
  std::vector<TasklistStart> starts;
  std::ifstream log(tasklist_log_);
  std::string line;
  while (std::getline(log, line)) {
    const auto entry = parse_json(line);
    const JsonValue* arguments = entry ? entry->root().find("arguments") : nullptr;
    const JsonValue* stdin_bytes = entry ? entry->root().find("stdinBytes") : nullptr;
    if (!arguments || !arguments->is_array() || !stdin_bytes || !stdin_bytes->is_integer()) {
      ADD_FAILURE() << "unreadable tasklist log line: " << line;
      continue;
    }
    TasklistStart start;
    for (const JsonValue& argument : arguments->elements()) {
      start.arguments.emplace_back(argument.as_string());
    }
    start.stdin_bytes = stdin_bytes->as_unsigned();
    starts.push_back(std::move(start));
  }
  return starts;
}

void HostTest::set_env(const std::string& name, const std::string& value) {
  extra_environment_[name] = value;
}

fs::path HostTest::storage_dir() const {
  if (!appdata_.empty()) return appdata_ / "io.tolvanik.desktop";
  const fs::path appdata = under_wine() ? *WineSession::get().appdata() : work_dir_ / "appdata";
  return appdata / "io.tolvanik.desktop";
}

fs::path HostTest::host_log_dir() const {
  if (under_wine()) return *WineSession::get().local_appdata() / "Tolvanik Host";
  return work_dir_ / "state" / "tolvanik-host";
}

void HostTest::use_appdata(const fs::path& unix_dir) {
  appdata_ = unix_dir;
  if (under_wine()) {
    start_host_through({"wine", "cmd", "/c", "set", "APPDATA=" + target_path(unix_dir), "&&"});
  } else {
    set_env("APPDATA", unix_dir.string());
  }
}

void HostTest::create_storage_dir() const { fs::create_directories(storage_dir()); }

void HostTest::write_storage_file(std::string_view text, std::string_view name) const {
  create_storage_dir();
  std::ofstream file(storage_dir() / name, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::optional<std::string> HostTest::read_storage_file(std::string_view name) const {
  std::ifstream file(storage_dir() / name, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string HostTest::target_path(const fs::path& unix_path) const {
  if (!under_wine()) return unix_path.string();
  std::string path = "Z:" + fs::absolute(unix_path).string();
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::map<std::string, std::string> HostTest::child_environment() const {
  auto environment = own_environment();
  environment["TOLVANIK_FAKE_TASKLIST_LOG"] = target_path(tasklist_log_);
  if (under_wine()) {
    environment["WINEDEBUG"] = "-all";
  } else {
    environment["APPDATA"] = (work_dir_ / "appdata").string();
    environment["XDG_STATE_HOME"] = (work_dir_ / "state").string();
    // Only the copy beside the host may be found, never one on the machine.
    environment["PATH"] = "/usr/bin:/bin";
  }
  // The host's log is off unless a test switches it on.
  environment.erase("TOLVANIK_HOST_LOG");
  for (const auto& [name, value] : extra_environment_) environment[name] = value;
  return environment;
}

std::vector<std::string> HostTest::command_for(const fs::path& program) const {
  if (under_wine()) return {"wine", program.string()};
  return {program.string()};
}

ChildProcess& HostTest::start(const std::vector<std::string>& arguments,
                              std::string_view queued_input) {
  host_.reset();
  auto argv = command_for(host_copy_);
  if (!host_launcher_.empty()) {
    argv = host_launcher_;
    argv.push_back(target_path(host_copy_));
  }
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  host_ = ChildProcess::start(argv, child_environment(), work_dir_, queued_input);
  if (!host_) throw std::runtime_error("the host could not be started");
  return *host_;
}

std::unique_ptr<ChildProcess> HostTest::start_another_host(
    const std::vector<std::string>& arguments, std::string_view queued_input) {
  auto argv = command_for(host_copy_);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ChildProcess::start(argv, child_environment(), work_dir_, queued_input);
}

ChildProcess& HostTest::host() {
  if (!host_) throw std::logic_error("the host has not been started");
  return *host_;
}

std::string HostTest::reply_to(const std::string& request) {
  const HostRun run = run_host(frame(request));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "");
  return run.output.size() >= 4 ? run.output.substr(4) : run.output;
}

HostRun HostTest::run_host(std::string_view input, const std::vector<std::string>& arguments) {
  ChildProcess& child = start(arguments);
  // The host may end before taking all of the input; that is up to the test.
  child.write_input(input);
  child.close_input();
  HostRun run;
  run.status = child.wait_exit();
  run.output = child.output_bytes();
  run.errors = child.stderr_text();
  return run;
}

std::unique_ptr<ChildProcess> HostTest::start_fixture(const std::string& name,
                                                      const std::vector<std::string>& arguments) {
  auto argv = command_for(fixtures_dir_ / (name + exe_suffix(target())));
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ChildProcess::start(argv, child_environment(), work_dir_);
}

HostRun HostTest::run_beside_host(const std::string& name,
                                  const std::vector<std::string>& arguments) {
  const std::string file_name = name + exe_suffix(target());
  const fs::path copy = work_dir_ / file_name;
  if (!fs::exists(copy)) fs::copy_file(build_dir(target()) / file_name, copy);
  auto argv = command_for(copy);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run_command(argv);
}

HostRun HostTest::run_command(const std::vector<std::string>& argv) {
  auto child = ChildProcess::start(argv, child_environment(), work_dir_);
  if (!child) throw std::runtime_error("could not start " + argv.front());
  child->close_input();
  HostRun run;
  run.status = child->wait_exit();
  run.output = child->output_bytes();
  run.errors = child->stderr_text();
  return run;
}

std::unique_ptr<ChildProcess> HostTest::hold_lock(const std::vector<std::string>& arguments) {
  auto holder = start_fixture("lock_holder", arguments);
  if (!holder) throw std::runtime_error("the lock holder could not be started");
  const auto line = holder->read_line();
  if (line != "locked") {
    throw std::runtime_error("the lock holder did not take the lock: " + line.value_or("") +
                             holder->stderr_text());
  }
  return holder;
}

}  // namespace tolvanik::blackbox
