#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tolvanik::platform {
namespace {

TEST(Clock, SystemTimeCountsFromTheUnixEpoch) {
  using std::chrono::duration_cast;
  using std::chrono::nanoseconds;
  const auto before =
      duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
  const nanoseconds now = system_time_since_epoch();
  const auto after =
      duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
  // The standard library may read a coarser clock; allow for its rounding.
  EXPECT_GE(now, before - std::chrono::milliseconds(100));
  EXPECT_LE(now, after + std::chrono::milliseconds(100));
}

TEST(Clock, MonotonicTimeMovesForward) {
  const auto first = monotonic_now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto second = monotonic_now();
  EXPECT_GT(second, first);
}

}  // namespace
}  // namespace tolvanik::platform
