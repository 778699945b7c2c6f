#include "platform/clock.h"

#include <windows.h>

#include <cstdint>

namespace tolvanik::platform {
namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTimeTicks = 116444736000000000;

std::int64_t counter_frequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart;
}

}  // namespace

std::chrono::nanoseconds monotonic_now() {
  // The frequency is fixed at boot.
  static const std::int64_t frequency = counter_frequency();
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so that neither product overflows.
  const std::int64_t seconds = counter.QuadPart / frequency;
  const std::int64_t remainder = counter.QuadPart % frequency;
  return std::chrono::seconds(seconds) +
         std::chrono::nanoseconds(remainder * 1'000'000'000 / frequency);
}

std::chrono::nanoseconds system_time_since_epoch() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return std::chrono::nanoseconds((ticks - kUnixEpochInFileTimeTicks) * 100);
}

}  // namespace tolvanik::platform
