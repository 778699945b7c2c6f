// How fast a change of the storage file reaches the extension, and what the
// host costs while nothing happens.
//
//   push_latency [--wine] [--pushes N] [--idle-seconds S] [HOST TASKLIST]
//
// Starts HOST (default: tolvanik_host beside this program) in a temporary
// directory with TASKLIST (default: running_tasklist/tasklist beside this
// program), which reports the desktop application as running. Then saves
// the storage file N times the way the desktop application does (write
// storage.json.new, rename it onto storage.json) and measures from the rename
// to the complete "colors" frame on the host's output. Finally it reads the
// CPU time of the host's process tree over S idle seconds.
//
// With --wine, HOST and TASKLIST are Windows executables started through
// wine, and the storage lies below the Wine prefix's own APPDATA.
// This is a native-only tool and speaks POSIX directly.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "messaging/framing.h"
#include "platform/posix/fd_io.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kPing = R"({"type":"ping"})";
constexpr std::string_view kPong = R"({"message":"Hello from Windows!","type":"pong"})";
// Generous: wine starts slowly and the machine may be busy.
constexpr int kReplyTimeoutMs = 30000;
// After each push, further frames within this window count as extra pushes.
constexpr int kSettleMs = 40;

// Frames from the host's standard output, with a time limit per frame.
class FrameInput {
 public:
  explicit FrameInput(int fd) : fd_(fd) {}

  std::optional<std::string> next(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      if (buffer_.size() >= 4) {
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
          length = (length << 8) | static_cast<unsigned char>(buffer_[i]);
        if (buffer_.size() >= 4 + length) {
          std::string payload = buffer_.substr(4, length);
          buffer_.erase(0, 4 + length);
          return payload;
        }
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[65536];
      const ssize_t got = read(fd_, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

std::string run_to_text(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    while (const std::size_t got = fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, got);
    pclose(pipe);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// utime + stime of one process, in clock ticks, and its parent.
struct ProcessTimes {
  long long ticks = 0;
  int parent = 0;
};

std::optional<ProcessTimes> read_times(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // The command name may hold spaces; the fields after it do not.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string> fields;
  std::string field;
  for (char c : line.substr(close + 2)) {
    if (c == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(field);
  // Fields from the state on: state(3) ppid(4) ... utime(14) stime(15).
  if (fields.size() < 13) return std::nullopt;
  return ProcessTimes{std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str()),
                      std::atoi(fields[1].c_str())};
}

// CPU ticks of `root` and every process below it.
long long tree_ticks(int root) {
  std::vector<std::pair<int, ProcessTimes>> all;
  if (DIR* proc = opendir("/proc")) {
    while (const dirent* entry = readdir(proc)) {
      const int pid = std::atoi(entry->d_name);
      if (pid <= 0) continue;
      if (const auto times = read_times(pid)) all.emplace_back(pid, *times);
    }
    closedir(proc);
  }
  std::vector<int> tree{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, times] : all) {
      if (std::find(tree.begin(), tree.end(), pid) == tree.end() &&
          std::find(tree.begin(), tree.end(), times.parent) != tree.end()) {
        tree.push_back(pid);
        grew = true;
      }
    }
  }
  long long ticks = 0;
  for (const auto& [pid, times] : all) {
    if (std::find(tree.begin(), tree.end(), pid) != tree.end()) ticks += times.ticks;
  }
  return ticks;
}

double percentile(std::vector<double> samples, double fraction) {
  std::sort(samples.begin(), samples.end());
  const std::size_t at = static_cast<std::size_t>(fraction * (samples.size() - 1) + 0.5);
  return samples[at];
}

std::string storage_text(int n) {
  return R"({"tolvanik_active_template":"t","tolvanik_last_modified":)" + std::to_string(1000 + n) +
         R"(,"tolvanik_templates":[{"colors":[],"id":"t","name":"save )" + std::to_string(n) +
         R"("}]})";
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  bool wine = false;
  int pushes = 100;
  int idle_seconds = 10;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--wine") {
      wine = true;
    } else if (argument == "--pushes" && i + 1 < argc) {
      pushes = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--idle-seconds" && i + 1 < argc) {
      idle_seconds = std::max(1, std::atoi(argv[++i]));
    } else {
      programs.emplace_back(argument);
    }
  }
  const fs::path own_dir = fs::read_symlink("/proc/self/exe").parent_path();
  if (programs.empty()) {
    programs = {(own_dir / "tolvanik_host").string(),
                (own_dir / "running_tasklist" / "tasklist").string()};
  }
  if (programs.size() != 2) {
    std::fprintf(stderr,
                 "usage: push_latency [--wine] [--pushes N] [--idle-seconds S] [HOST TASKLIST]\n");
    return 2;
  }

  // The host finds tasklist beside itself, so both go into a fresh directory.
  char work_template[] = "/tmp/push-latency-XXXXXX";
  if (!mkdtemp(work_template)) return 1;
  const fs::path work_dir = work_template;
  const std::string suffix = wine ? ".exe" : "";
  const fs::path host = work_dir / ("tolvanik_host" + suffix);
  fs::copy_file(programs[0], host);
  fs::copy_file(programs[1], work_dir / ("tasklist" + suffix));

  fs::path appdata = work_dir / "appdata";
  if (wine) {
    setenv("WINEDEBUG", "-all", 0);
    const std::string windows_appdata = run_to_text("wine cmd /c echo %APPDATA% 2>/dev/null");
    appdata = run_to_text("winepath -u '" + windows_appdata + "' 2>/dev/null");
    if (appdata.empty()) {
      std::fprintf(stderr, "cannot find the Wine prefix's APPDATA\n");
      return 1;
    }
  } else {
    setenv("APPDATA", appdata.c_str(), 1);
  }
  const fs::path storage_dir = appdata / "io.tolvanik.desktop";
  fs::create_directories(storage_dir);
  const fs::path storage = storage_dir / "storage.json";
  const fs::path staged = storage_dir / "storage.json.new";
  write_file(storage, storage_text(0));

  int to_host[2];
  int from_host[2];
  if (pipe2(to_host, O_CLOEXEC) != 0 || pipe2(from_host, O_CLOEXEC) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_host[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_host[1], STDOUT_FILENO);
  std::vector<std::string> command = {host.string()};
  if (wine) command.insert(command.begin(), "wine");
  std::vector<char*> child_argv;
  for (auto& argument : command) child_argv.push_back(argument.data());
  child_argv.push_back(nullptr);
  pid_t child = 0;
  if (const int failed =
          posix_spawnp(&child, child_argv[0], &actions, nullptr, child_argv.data(), environ)) {
    std::fprintf(stderr, "cannot start %s: %s\n", child_argv[0], std::strerror(failed));
    return 1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(to_host[0]);
  close(from_host[1]);
  FrameInput output(from_host[0]);

  const auto fail = [&](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    fs::remove_all(work_dir);
    if (wine) fs::remove_all(storage_dir);
    return 1;
  };

  tolvanik::platform::write_all(to_host[1],
                                *tolvanik::encode_frame(tolvanik::parse_json(kPing)->root()));
  if (output.next(kReplyTimeoutMs) != kPong) return fail("the host did not answer the ping");
  // Saves within the first second of the loop are taken for the host's own.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  const long long ticks_at_first_push = tree_ticks(child);
  std::vector<double> latencies;
  int extra_frames = 0;
  for (int n = 1; n <= pushes; ++n) {
    write_file(staged, storage_text(n));
    // The template's name is in the push and in the file's own text alike,
    // so a relay that only forwards the file is measured the same way.
    const std::string expected = "\"save " + std::to_string(n) + "\"";
    const auto renamed = Clock::now();
    fs::rename(staged, storage);
    while (true) {
      const auto push = output.next(kReplyTimeoutMs);
      if (!push) return fail("no push arrived");
      if (push->find(expected) != std::string::npos) break;
      ++extra_frames;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - renamed).count());
    while (output.next(kSettleMs)) ++extra_frames;
  }

  const long long push_ticks = tree_ticks(child) - ticks_at_first_push;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long long ticks_before = tree_ticks(child);
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const long long ticks_after = tree_ticks(child);

  close(to_host[1]);
  const auto closed = Clock::now();
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const double exit_ms = std::chrono::duration<double, std::milli>(Clock::now() - closed).count();
  close(from_host[0]);
  fs::remove_all(work_dir);
  if (wine) fs::remove_all(storage_dir);

  const long ticks_per_second = sysconf(_SC_CLK_TCK);
  std::printf("storage change push%s: rename of storage.json to the whole \"colors\" frame\n",
              wine ? " under wine" : "");
  std::printf("  %zu pushes   median %8.3f ms   p90 %8.3f   worst %8.3f   extra frames %d\n",
              latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.9),
              *std::max_element(latencies.begin(), latencies.end()), extra_frames);
  const auto as_ms = [&](long long ticks) {
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(ticks_per_second);
  };
  std::printf("  CPU of the host process tree: %.0f ms for the pushes, %.0f ms over %d idle s\n",
              as_ms(push_ticks), as_ms(ticks_after - ticks_before), idle_seconds);
  std::printf("  input closed to exit: %.1f ms, status %d\n", exit_ms,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
