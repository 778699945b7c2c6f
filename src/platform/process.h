// Starting helper programs and capturing what they print.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wait_watch.h"

namespace tolvanik::platform {

// Finds the system program `bare_name` (no directory, no extension) in the
// directory of this executable, then the system's own directories, then the
// directories of PATH. The current directory is never searched.
std::optional<std::string> find_system_program(std::string_view bare_name);

// How long run_and_capture waits for its child.
struct CaptureLimits {
  // The child is ended once it has run this long; without one it may run
  // as long as it likes.
  std::optional<std::chrono::milliseconds> time_limit;
  // Asked about every kCaptureSlice while the child runs: true ends the
  // child and the wait.
  std::function<bool()> give_up;
};

// As long as any other watched wait of the host lasts between two looks.
inline constexpr std::chrono::milliseconds kCaptureSlice = kWaitSlice;

enum class CaptureStop {
  kFinished,
  // The child ran past the time limit and was ended.
  kTimeLimit,
  // The caller gave up waiting and the child was ended.
  kGivenUp,
};

struct Capture {
  // What the child wrote to standard output, up to its end.
  std::string output;
  CaptureStop stop = CaptureStop::kFinished;
};

// Runs `program` with `arguments`, standard input from the null device and
// both output streams captured, until it has ended or `limits` end it; only
// that child is ended, never a process it started. Yields what it wrote to
// standard output; what it wrote to standard error is discarded. Only the
// capture pipes are handed to the child.
std::expected<Capture, std::string> run_and_capture(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const CaptureLimits& limits = {});

// The path a program called `bare_name` has in this executable's directory,
// with the system's suffix for programs.
std::string sibling_program_path(std::string_view bare_name);

struct ChildRun {
  std::string output;
  // Nothing when the child was ended for running past its time.
  std::optional<int> exit_status;
};

// Runs `program` with `arguments` in `working_directory`, as a browser runs a
// native-messaging host: `input` (at most a few KiB) on standard input, which
// is then closed; standard output captured; standard error shared with this
// process. A child still running after `timeout` is ended.
std::expected<ChildRun, std::string> run_with_input(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const std::string& working_directory,
                                                    std::string_view input,
                                                    std::chrono::milliseconds timeout);

}  // namespace tolvanik::platform
