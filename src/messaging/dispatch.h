// The commands the host answers, and what each of them touches.
#pragma once

#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik {

// What answering a command reaches beyond the message itself. The event
// loop decides from it which replies may wait to go out together and when
// the extension's own writes start the quiet time for pushes.
enum class CommandReach {
  // Answered from the message alone, at once.
  kNothing,
  // Reads the storage file (and may ask which processes run).
  kReadsStorage,
  // Writes the storage file.
  kWritesStorage,
};

struct Command {
  std::string_view type;
  CommandReach reach;
  JsonDocument (*answer)(const std::string& storage_path, const JsonDocument& request);
};

// The "type" member of a request when it is a string, otherwise "".
std::string_view request_type(const JsonValue& request);

// The command of that type; for any other type, the one that answers
// "Unknown command" at once.
const Command& find_command(std::string_view type);

// The reply to one request, made on the calling thread. Any JSON value is
// accepted; what is not a known command gets the "Unknown command" error.
JsonDocument answer_request(const std::string& storage_path, const JsonDocument& request);

// Answers one request and sends the reply.
void dispatch_request(const std::string& storage_path, const JsonDocument& request);

}  // namespace tolvanik
