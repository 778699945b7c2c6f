#include "messaging/event_loop.h"

#include "messaging/dispatch.h"
#include "messaging/framing.h"
#include "platform/std_streams.h"

namespace tolvanik {

void run_event_loop(const std::string& storage_path) {
  FrameReader reader(platform::read_stdin_some, /*read_ahead=*/true);
  while (const auto message = reader.next()) {
    dispatch_request(storage_path, *message);
  }
}

}  // namespace tolvanik
