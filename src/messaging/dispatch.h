// Picks the action for one request by its "type" and makes the reply.
#pragma once

#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik {

// The "type" member of a request when it is a string, otherwise "".
std::string_view request_type(const JsonValue& request);

// The reply to one request, made on the calling thread. Any JSON value is
// accepted; what is not a known command gets the "Unknown command" error.
JsonDocument answer_request(const std::string& storage_path, const JsonDocument& request);

// Whether the request of `type` is answered from the message alone, without
// looking at storage or at the processes running: at once, that is.
bool answered_at_once(std::string_view type);

// Answers one request and sends the reply.
void dispatch_request(const std::string& storage_path, const JsonDocument& request);

}  // namespace tolvanik
