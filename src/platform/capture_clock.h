// When run_and_capture stops waiting for its child: the same rule on every
// system, asked between the system's own waits.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/process.h"

namespace tolvanik::platform {

class CaptureClock {
 public:
  explicit CaptureClock(const CaptureLimits& limits)
      : limits_(limits), started_(Clock::now()), next_ask_(started_ + kCaptureSlice) {}

  // Why waiting stops now, if it does.
  std::optional<CaptureStop> stop_now() {
    const auto now = Clock::now();
    if (limits_.time_limit && now - started_ >= *limits_.time_limit) return CaptureStop::kTimeLimit;
    if (limits_.give_up && now >= next_ask_) {
      next_ask_ = now + kCaptureSlice;
      if (limits_.give_up()) return CaptureStop::kGivenUp;
    }
    return std::nullopt;
  }

  // How long the next wait may last before stop_now() is due again; -1
  // when nothing limits it.
  int wait_milliseconds() const {
    if (!limits_.time_limit && !limits_.give_up) return -1;
    auto until = Clock::time_point::max();
    if (limits_.time_limit) until = started_ + *limits_.time_limit;
    if (limits_.give_up) until = std::min(until, next_ask_);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    return static_cast<int>(
        std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kCaptureSlice.count()));
  }

 private:
  using Clock = std::chrono::steady_clock;

  const CaptureLimits& limits_;
  Clock::time_point started_;
  Clock::time_point next_ask_;
};

}  // namespace tolvanik::platform
