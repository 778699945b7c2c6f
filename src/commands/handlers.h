// The commands that act on the desktop application's storage. Each builds
// the one reply its request gets; the dispatch sends it.
#pragma once

#include <string>

#include "messaging/json.h"

namespace tolvanik {

// "status": whether the desktop application runs, asked afresh, and its
// stored templates.
JsonDocument handle_get_status(const std::string& storage_path);

// "setColorsResult": whether the message's templates were written; true
// also when it carried none.
JsonDocument handle_set_colors(const std::string& storage_path, const JsonDocument& message);

// "syncResponse": the side with the later stamp wins. The desktop side
// ("mac") wins only with a strictly later stamp and then hands over its
// templates; otherwise the extension side ("chrome") is written.
JsonDocument handle_sync_request(const std::string& storage_path, const JsonDocument& message);

}  // namespace tolvanik
