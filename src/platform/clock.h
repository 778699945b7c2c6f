// Monotonic and wall-clock time.
#pragma once

#include <chrono>

namespace tolvanik::platform {

// Time from an arbitrary fixed origin that never goes backwards and does not
// follow changes of the wall clock.
std::chrono::nanoseconds monotonic_now();

// The wall clock as time since the Unix epoch; negative before the epoch.
std::chrono::nanoseconds system_time_since_epoch();

}  // namespace tolvanik::platform
