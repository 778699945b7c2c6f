// What the host's long waits (the storage lock, the presence probe) consult
// while they wait, so that a wait on behalf of a browser that has gone ends.
#pragma once

#include <chrono>
#include <string_view>

namespace tolvanik {

// How long a watched wait lasts before it asks its watch again.
inline constexpr std::chrono::milliseconds kWaitSlice{200};

class WaitWatch {
 public:
  // True when nobody is left to receive what the wait is for.
  virtual bool waited_for_nobody() = 0;

  // Ends the host after a wait for `what` that lasted `waited` turned out to
  // be for nobody. Whatever the wait held has been let go by the caller.
  [[noreturn]] virtual void end_host(std::string_view what, std::chrono::nanoseconds waited) = 0;

  // Notes that a wait for `what` was cut off after `waited`.
  virtual void timed_out(std::string_view what, std::chrono::nanoseconds waited) = 0;

 protected:
  ~WaitWatch() = default;
};

}  // namespace tolvanik
