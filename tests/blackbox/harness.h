// Black-box harness: runs the built host as a child process, natively or as
// the Windows executable under Wine, and talks to it through real pipes.
//
// A test file declares its own fixture and runs every test on both targets:
//
//   class StorageTest : public tolvanik::blackbox::HostTest {};
//   TOLVANIK_BLACKBOX_TARGETS(StorageTest);
//   TEST_P(StorageTest, Something) {
//     set_running({"Tolvanik.exe"});
//     write_storage_file(R"({"tolvanik_templates":[]})");
//     start();
//     send_frame(R"({"type":"getStatus"})");
//     EXPECT_EQ(read_frame(), R"({...})");
//     close_input();
//     EXPECT_EQ(wait_exit(), 0);
//     EXPECT_EQ(stderr_text(), "");
//   }
//
// Each test gets a fresh temporary directory holding a copy of the host and
// the fake tasklist, and an empty storage location. Under Wine the storage
// directory lies in the Wine prefix (Wine gives programs its own APPDATA), so
// Wine tests must run one at a time, as GoogleTest runs them. Wine's own
// services are started before the first Wine test and write to
// wine-services.log in the build directory, never into a test's output.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tolvanik::blackbox {

using namespace std::chrono_literals;

enum class Target { native, wine };

// Generous: the machine is small, may be busy, and Wine starts slowly.
inline constexpr std::chrono::milliseconds kDefaultTimeout = 60s;

// The four little-endian length bytes of a frame.
std::string length_prefix(std::uint32_t length);

// A whole frame: length prefix and payload.
std::string frame(std::string_view payload);

// The exact payloads of the host's replies to "ping" and to an unknown
// command, the same in every mode.
std::string pong_payload();
std::string unknown_command_payload();

// A child process with its three standard streams connected to pipes. Its
// standard output and standard error are collected in the background, so a
// child never stalls on a full pipe while the test writes to it.
class ChildProcess {
 public:
  // Starts `argv` (argv[0] a path, or a bare name looked up in PATH) in
  // `working_directory` with exactly `environment`. `queued_input` (at most
  // 64 KiB) is in the input pipe before the child starts. Fails the current
  // test and yields nothing when the child cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& environment,
                                             const std::filesystem::path& working_directory,
                                             std::string_view queued_input = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Writes all of `bytes` to the child's standard input. False when the child
  // has closed its input (or ended) before taking everything, or on time-out.
  bool write_input(std::string_view bytes, std::chrono::milliseconds timeout = kDefaultTimeout);
  void close_input();
  // Closes this end of the child's standard output, as a browser that has
  // gone does; what the child writes from then on fails.
  void close_output();

  // The payload of the next frame on standard output, or nothing when the
  // output ends first or the time-out passes.
  std::optional<std::string> read_frame(std::chrono::milliseconds timeout = kDefaultTimeout);
  // The next line on standard output without its line ending ("\n" or "\r\n").
  std::optional<std::string> read_line(std::chrono::milliseconds timeout = kDefaultTimeout);

  // The exit status once the child has ended (128 + signal number when a
  // signal ended it), or nothing on time-out.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = kDefaultTimeout);
  bool has_exited();

  // Everything written to standard output so far, also what read_frame and
  // read_line have taken; and everything written to standard error so far.
  std::string output_bytes();
  std::string stderr_text();
  // Output not yet taken by read_frame or read_line.
  std::string unread_output();

  // Ends the child and everything it started.
  void kill();

  // The child's process id (under Wine, that of the Windows program).
  int pid() const { return pid_; }

 private:
  struct Stream {
    std::string bytes;
    std::size_t taken = 0;
    bool ended = false;
  };
  ChildProcess() = default;
  void collect(int fd, Stream& stream);
  // Waits until `ready` holds or the stream has ended; false on time-out.
  template <typename Ready>
  bool wait_for(Stream& stream, std::chrono::milliseconds timeout, Ready ready);

  int pid_ = -1;
  int input_fd_ = -1;
  bool output_closing_ = false;
  std::optional<int> status_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Stream output_;
  Stream errors_;
  std::thread output_reader_;
  std::thread error_reader_;
};

// What one run of the host with a fixed input produced.
struct HostRun {
  std::string output;
  std::string errors;
  std::optional<int> status;
};

// The fixture every black-box test derives from; parameterized by target.
class HostTest : public testing::TestWithParam<Target> {
 protected:
  void SetUp() override;
  void TearDown() override;

  Target target() const { return GetParam(); }
  bool under_wine() const { return target() == Target::wine; }
  // This test's own temporary directory; the host copy lies in it.
  const std::filesystem::path& work_dir() const { return work_dir_; }

  // The images the fake tasklist reports as running. Nothing runs until
  // this is called.
  void set_running(const std::vector<std::string>& image_names);
  // Removes the fake tasklist from beside the host.
  void remove_tasklist();
  // Every start of the fake tasklist so far, in order.
  struct TasklistStart {
    std::vector<std::string> arguments;
    std::size_t stdin_bytes = 0;
  };
  std::vector<TasklistStart> tasklist_starts() const;

  // Extra environment for the host and fixture programs.
  void set_env(const std::string& name, const std::string& value);
  // Starts the host through `command`, which gets the host's path and
  // arguments appended, e.g. a shell that sets resource limits. Under Wine
  // the command is a Windows program's and gets the host's Windows path.
  void start_host_through(const std::vector<std::string>& command) { host_launcher_ = command; }
  // Gives the host `unix_dir` as its APPDATA; the storage helpers below
  // follow. Wine sets APPDATA itself, so there a command shell sets it.
  void use_appdata(const std::filesystem::path& unix_dir);

  // The folder of the host's log, as a Unix path: natively below this
  // test's directory, under Wine in the prefix (Wine tests share it).
  std::filesystem::path host_log_dir() const;

  // The storage location the host uses, as Unix paths. The storage
  // directory does not exist when a test starts.
  std::filesystem::path storage_dir() const;
  std::filesystem::path storage_file() const { return storage_dir() / "storage.json"; }
  std::filesystem::path storage_sibling(std::string_view suffix) const {
    return storage_dir() / ("storage.json." + std::string(suffix));
  }
  void create_storage_dir() const;
  // Creates the storage directory when needed and writes `text` to `name`
  // in it (storage.json by default).
  void write_storage_file(std::string_view text, std::string_view name = "storage.json") const;
  // The content of a file in the storage directory; nothing when missing.
  std::optional<std::string> read_storage_file(std::string_view name = "storage.json") const;

  // A Unix path as the programs under test see it (Z:\... under Wine).
  std::string target_path(const std::filesystem::path& unix_path) const;

  // Starts the host copy with `arguments` and `queued_input` (at most 64 KiB)
  // already waiting on its input. A host this test started before is ended
  // first; the fake tasklist's log is kept.
  ChildProcess& start(const std::vector<std::string>& arguments = {},
                      std::string_view queued_input = {});
  ChildProcess& host();
  // Starts one more host copy beside the one start() runs, owned by the test.
  std::unique_ptr<ChildProcess> start_another_host(const std::vector<std::string>& arguments = {},
                                                   std::string_view queued_input = {});
  bool send_frame(std::string_view json_text) { return host().write_input(frame(json_text)); }
  bool send_bytes(std::string_view bytes) { return host().write_input(bytes); }
  void close_input() { host().close_input(); }
  std::optional<std::string> read_frame(std::chrono::milliseconds timeout = kDefaultTimeout) {
    return host().read_frame(timeout);
  }
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = kDefaultTimeout) {
    return host().wait_exit(timeout);
  }
  std::string stderr_text() { return host().stderr_text(); }
  std::string output_bytes() { return host().output_bytes(); }

  // Starts the host, writes `input`, closes the input and waits for the end.
  HostRun run_host(std::string_view input, const std::vector<std::string>& arguments = {});
  // Runs the host in one-shot mode with one request, expects a clean end
  // and returns the reply's payload.
  std::string reply_to(const std::string& request);

  // Starts a fixture program ("lock_holder") under this test's target, with
  // the host's environment. The test owns it; it is killed when dropped.
  std::unique_ptr<ChildProcess> start_fixture(const std::string& name,
                                              const std::vector<std::string>& arguments = {});
  // Runs the build's program `name` ("tolvanik_register") from a copy beside
  // the host copy, with the host's environment, to its end.
  HostRun run_beside_host(const std::string& name, const std::vector<std::string>& arguments);
  // Runs `argv` as given (for "wine reg query ...") with the host's
  // environment, to its end.
  HostRun run_command(const std::vector<std::string>& argv);

  // Starts the lock holder and waits until it holds the storage lock. The
  // storage directory must exist. Let go with close_input() and wait_exit().
  std::unique_ptr<ChildProcess> hold_storage_lock() { return hold_lock({}); }
  // The same for the lock of the host's log; its folder is made.
  std::unique_ptr<ChildProcess> hold_host_log_lock() { return hold_lock({"--host-log"}); }

 private:
  std::unique_ptr<ChildProcess> hold_lock(const std::vector<std::string>& arguments);
  std::map<std::string, std::string> child_environment() const;
  std::vector<std::string> command_for(const std::filesystem::path& program) const;

  std::filesystem::path work_dir_;
  std::filesystem::path host_copy_;
  std::filesystem::path fixtures_dir_;
  std::filesystem::path tasklist_log_;
  std::map<std::string, std::string> extra_environment_;
  std::vector<std::string> host_launcher_;
  std::filesystem::path appdata_;
  std::unique_ptr<ChildProcess> host_;
};

// Whether the native host runs with sanitizers or ThreadSanitizer, which
// cost it many times its speed and memory.
bool native_host_is_sanitized();

std::string target_name(const testing::TestParamInfo<Target>& info);
// Names the target in GoogleTest's messages ("where GetParam() = wine").
void PrintTo(Target target, std::ostream* out);

}  // namespace tolvanik::blackbox

#define TOLVANIK_BLACKBOX_TARGETS(fixture)                                                     \
  INSTANTIATE_TEST_SUITE_P(                                                                    \
      Targets, fixture,                                                                        \
      ::testing::Values(tolvanik::blackbox::Target::native, tolvanik::blackbox::Target::wine), \
      tolvanik::blackbox::target_name)
