// Whether the desktop application is running, asked of the system's
// process list.
#pragma once

#include <chrono>

#include "platform/wait_watch.h"

namespace tolvanik {

// A process list that takes longer than this will not come: the stuck
// child is ended and the desktop application counts as not running.
inline constexpr std::chrono::seconds kProbeTimeLimit{10};

// Runs "tasklist" once per image name the desktop application may run
// under, until one of them is listed. A listing that cannot be had, or
// does not come within kProbeTimeLimit, counts as "not running". `watch`
// is told of a listing cut off, and ends the host when the wait is for
// nobody.
bool is_desktop_app_running(WaitWatch* watch = nullptr);

}  // namespace tolvanik
