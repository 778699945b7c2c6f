// The conversation while the desktop application runs: requests are answered
// in arrival order, and changes of the storage file made by someone else are
// pushed to the extension.
#pragma once

#include <chrono>
#include <string>

#include "host_log/host_log.h"
#include "messaging/browser_watch.h"
#include "messaging/json.h"
#include "storage/snapshot.h"

namespace tolvanik {

// A storage change is pushed only once the host's own last write lies more
// than a second back, so that the extension hears no echo of what it sent.
inline constexpr std::chrono::nanoseconds kQuietAfterHostWrite = std::chrono::seconds(1);

// Whether a storage change seen at `now` is pushed, given the monotonic time
// of the host's last write.
bool storage_change_pushed(std::chrono::nanoseconds last_host_write, std::chrono::nanoseconds now);

// The unsolicited "colors" message carrying `snapshot`.
JsonDocument colors_push(StorageSnapshot snapshot);

// Answers requests until the input ends, then returns; notes in `log` what
// it did on the way and why the input ended. `watch` watches every wait
// for the storage lock and the presence probe, and learns from the input
// reader when the input has ended.
void run_event_loop(const std::string& storage_path, HostLog& log, BrowserWatch& watch);

}  // namespace tolvanik
