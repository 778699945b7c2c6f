// Whether the browser that started the host is still there to receive what
// the host is waiting to send.
#pragma once

#include <atomic>
#include <chrono>
#include <string_view>

#include "host_log/host_log.h"
#include "platform/parent_process.h"
#include "platform/wait_watch.h"

namespace tolvanik {

// The browser has gone when both of its ends are closed: the host's input
// has ended, and the reading end of its output is closed or, where the
// system does not tell that, the process that started the host has ended
// (a browser that starts the host through a command interpreter ends that
// interpreter, not the host). Either end alone is no reason to stop: a
// request that came before the input ended is still answered.
class BrowserWatch final : public WaitWatch {
 public:
  explicit BrowserWatch(HostLog& log) : log_(log) {}

  // From now on another thread reads standard input and reports its end
  // through note_input_ended(). Call before that thread starts.
  void input_read_elsewhere() { input_read_elsewhere_ = true; }
  // Safe from any thread.
  void note_input_ended() { input_ended_.store(true, std::memory_order_relaxed); }

  bool waited_for_nobody() override;
  // Notes in the log what the host waited for and how long, and ends it
  // with status 0, writing nothing more to the browser.
  [[noreturn]] void end_host(std::string_view what, std::chrono::nanoseconds waited) override;
  void timed_out(std::string_view what, std::chrono::nanoseconds waited) override;

 private:
  HostLog& log_;
  platform::ParentProcess parent_;
  bool input_read_elsewhere_ = false;
  std::atomic<bool> input_ended_{false};
};

}  // namespace tolvanik
