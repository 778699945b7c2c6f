#include "messaging/browser_watch.h"

#include "platform/std_streams.h"

namespace tolvanik {

bool BrowserWatch::waited_for_nobody() {
  const bool input_ended = input_read_elsewhere_ ? input_ended_.load(std::memory_order_relaxed)
                                                 : platform::stdin_ended();
  if (!input_ended) return false;
  const std::optional<bool> output_closed = platform::stdout_reader_closed();
  return output_closed ? *output_closed : parent_.ended();
}

void BrowserWatch::end_host(std::string_view what, std::chrono::nanoseconds waited) {
  log_.browser_gone(what, waited);
  log_.end("browser gone", 0);
  platform::exit_process(0);
}

void BrowserWatch::timed_out(std::string_view what, std::chrono::nanoseconds waited) {
  log_.wait_timed_out(what, waited);
}

}  // namespace tolvanik
