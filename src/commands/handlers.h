// The commands that act on the desktop application's storage. Each builds
// the one reply its request gets and says what its storage operations met;
// the dispatch sends the reply and notes the rest in the log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "messaging/json.h"
#include "platform/wait_watch.h"
#include "storage/storage_facts.h"

namespace tolvanik {

// The one reply a request gets, and in a few words how answering it went.
struct CommandAnswer {
  JsonDocument reply;
  std::string_view outcome;
  // What each storage operation met on its way, in their order.
  std::vector<StorageFacts> storage_met;
};

// `watch` watches each handler's waits for the storage lock and the
// presence probe.

// "status": whether the desktop application runs, asked afresh, and its
// stored templates.
CommandAnswer handle_get_status(const std::string& storage_path, WaitWatch* watch = nullptr);

// "setColorsResult": whether the message's templates were written; true
// also when it carried none.
CommandAnswer handle_set_colors(const std::string& storage_path, const JsonDocument& message,
                                WaitWatch* watch = nullptr);

// "syncResponse": the side with the later stamp wins. The desktop side
// ("mac") wins only with a strictly later stamp and then hands over its
// templates; otherwise the extension side ("chrome") is written.
CommandAnswer handle_sync_request(const std::string& storage_path, const JsonDocument& message,
                                  WaitWatch* watch = nullptr);

}  // namespace tolvanik
