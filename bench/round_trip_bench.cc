// The cost of one one-shot "ping", as a browser pays it for every message it
// sends without a port: start the host, write the frame, read the reply,
// wait for the exit. Measured against a minimal program doing only that.
//
//   round_trip_bench [--runs N] [--wine] HOST BASELINE
//
// With --wine both programs are Windows executables started through wine.
// This is a native-only tool and speaks POSIX directly.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/framing.h"
#include "platform/posix/fd_io.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kRequest = R"({"type":"ping"})";
constexpr std::string_view kReply = R"({"message":"Hello from Windows!","type":"pong"})";
constexpr int kWarmUpRuns = 3;

bool read_exactly(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// One round trip; the elapsed time, or nothing with a diagnostic printed.
std::optional<double> round_trip_ms(const std::vector<std::string>& command) {
  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) return std::nullopt;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (const auto& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const std::string request = *tolvanik::encode_frame(tolvanik::parse_json(kRequest)->root());
  const auto start = Clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(spawned));
    close(to_child[1]);
    close(from_child[0]);
    return std::nullopt;
  }
  tolvanik::platform::write_all(to_child[1], request);
  close(to_child[1]);
  // Only the frame is read, not up to the end of the pipe: a helper the
  // child leaves behind (wine's server) may hold the pipe open.
  char header[4];
  std::string reply;
  bool got_reply = read_exactly(from_child[0], header, 4);
  if (got_reply) {
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(header[i]);
    reply.resize(std::min<std::uint32_t>(length, 1 << 20));
    got_reply = read_exactly(from_child[0], reply.data(), reply.size());
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  close(from_child[0]);
  if (!got_reply || reply != kReply) {
    std::fprintf(stderr, "%s: unexpected reply \"%s\"\n", argv[0], reply.c_str());
    return std::nullopt;
  }
  return elapsed;
}

double percentile(std::vector<double> samples, double fraction) {
  std::sort(samples.begin(), samples.end());
  const std::size_t at = static_cast<std::size_t>(fraction * (samples.size() - 1) + 0.5);
  return samples[at];
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int runs = 200;
  bool wine = false;
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--wine") {
      wine = true;
    } else {
      programs.emplace_back(argument);
    }
  }
  if (programs.size() != 2) {
    std::fprintf(stderr, "usage: round_trip_bench [--runs N] [--wine] HOST BASELINE\n");
    return 2;
  }

  std::vector<std::vector<std::string>> commands;
  for (const auto& program : programs) {
    commands.push_back(wine ? std::vector<std::string>{"wine", program}
                            : std::vector<std::string>{program});
  }
  for (int i = 0; i < kWarmUpRuns; ++i) {
    for (const auto& command : commands) {
      if (!round_trip_ms(command)) return 1;
    }
  }
  // Interleaved, so that drift in the machine's load touches both alike.
  std::vector<std::vector<double>> samples(commands.size());
  for (int i = 0; i < runs; ++i) {
    for (std::size_t c = 0; c < commands.size(); ++c) {
      const auto elapsed = round_trip_ms(commands[c]);
      if (!elapsed) return 1;
      samples[c].push_back(*elapsed);
    }
  }

  std::printf("one-shot \"ping\" round trip, start to exit%s, %d runs each\n",
              wine ? " under wine" : "", runs);
  for (std::size_t c = 0; c < commands.size(); ++c) {
    std::printf("  %-22s median %8.3f ms   p10 %8.3f   p90 %8.3f\n", base_name(programs[c]).c_str(),
                percentile(samples[c], 0.5), percentile(samples[c], 0.1),
                percentile(samples[c], 0.9));
  }
  std::printf("  ratio (host / baseline) %.2f\n",
              percentile(samples[0], 0.5) / percentile(samples[1], 0.5));
  return 0;
}
