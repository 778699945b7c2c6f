#include "platform/clock.h"

#include <time.h>

namespace tolvanik::platform {
namespace {

std::chrono::nanoseconds read_clock(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds monotonic_now() { return read_clock(CLOCK_MONOTONIC); }

std::chrono::nanoseconds system_time_since_epoch() { return read_clock(CLOCK_REALTIME); }

}  // namespace tolvanik::platform
