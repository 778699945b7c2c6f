// The native-messaging host the browser starts for the extension.
//
// Command-line arguments (the browser passes the caller's origin) change
// nothing the host does: everything it needs comes from the environment and
// the messages on standard input. The log alone notes who the caller was.

#include <span>

#include "host_log/caller.h"
#include "host_log/host_log.h"
#include "messaging/browser_watch.h"
#include "messaging/dispatch.h"
#include "messaging/event_loop.h"
#include "messaging/framing.h"
#include "platform/memory.h"
#include "platform/std_streams.h"
#include "probes/presence.h"
#include "storage/location.h"
#include "tolvanik_version.h"

namespace {

// Without the desktop application nothing can change the storage behind the
// extension's back, so one request is answered and the host ends.
void run_one_shot(const std::string& storage_path, tolvanik::HostLog& log,
                  tolvanik::BrowserWatch& watch) {
  const auto request = tolvanik::read_message();
  if (!request) {
    tolvanik::log_input_end(log, request.error());
    log.end("input ended", 0);
    return;
  }
  tolvanik::dispatch_request(storage_path, *request, log, &watch);
  log.end("answered", 0);
}

}  // namespace

int main(int argc, char** argv) {
  tolvanik::platform::prepare_process();
  tolvanik::HostLog log = tolvanik::open_host_log();
  const std::string storage_path = tolvanik::storage_path_from_environment();
  const auto probe_started = log.clock();
  // Lives until the process ends: the input reader thread refers to it.
  tolvanik::BrowserWatch watch(log);
  const bool running = tolvanik::is_desktop_app_running(&watch);
  log.start(
      {.version = TOLVANIK_VERSION,
       .event_loop = running,
       .probe_time = log.clock() - probe_started,
       .desktop_running = running,
       .caller = tolvanik::caller_from_arguments(std::span(argv, argc).subspan(argc > 0 ? 1 : 0))});
  if (running) {
    tolvanik::platform::keep_freed_memory_in_one_heap();
    tolvanik::run_event_loop(storage_path, log, watch);
    log.end("input ended", 0);
  } else {
    run_one_shot(storage_path, log, watch);
  }
  // Worker threads may still be blocked in reads; ending the process
  // directly neither waits for them nor runs teardown under their feet.
  tolvanik::platform::exit_process(0);
}
