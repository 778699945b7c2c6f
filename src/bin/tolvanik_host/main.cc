// The native-messaging host the browser starts for the extension.
//
// Command-line arguments (the browser passes the caller's origin) are
// ignored: everything the host needs comes from the environment and the
// messages on standard input.

#include "messaging/dispatch.h"
#include "messaging/event_loop.h"
#include "messaging/framing.h"
#include "platform/memory.h"
#include "platform/std_streams.h"
#include "probes/presence.h"
#include "storage/location.h"

namespace {

// Without the desktop application nothing can change the storage behind the
// extension's back, so one request is answered and the host ends.
void run_one_shot(const std::string& storage_path) {
  if (const auto request = tolvanik::read_message()) {
    tolvanik::dispatch_request(storage_path, *request);
  }
}

}  // namespace

int main() {
  tolvanik::platform::prepare_process();
  const std::string storage_path = tolvanik::storage_path_from_environment();
  if (tolvanik::is_desktop_app_running()) {
    tolvanik::platform::keep_freed_memory_in_one_heap();
    tolvanik::run_event_loop(storage_path);
  } else {
    run_one_shot(storage_path);
  }
  // Worker threads may still be blocked in reads; ending the process
  // directly neither waits for them nor runs teardown under their feet.
  tolvanik::platform::exit_process(0);
}
