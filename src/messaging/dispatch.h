// Picks the action for one request by its "type" and sends the reply.
#pragma once

#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik {

// The "type" member of a request when it is a string, otherwise "".
std::string_view request_type(const JsonValue& request);

// Answers one request on the calling thread. Any JSON value is accepted;
// what is not a known command gets the "Unknown command" error reply.
void dispatch_request(const std::string& storage_path, const JsonDocument& request);

}  // namespace tolvanik
