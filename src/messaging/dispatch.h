// The commands the host answers, and what each of them touches.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "commands/handlers.h"
#include "host_log/host_log.h"
#include "messaging/framing.h"
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
  CommandAnswer (*answer)(const std::string& storage_path, const JsonDocument& request,
                          WaitWatch* watch);
};

// The "type" member of a request when it is a string, otherwise "".
std::string_view request_type(const JsonValue& request);

// The command of that type; for any other type, the one that answers
// "Unknown command" at once.
const Command& find_command(std::string_view type);

// The reply to one request, made on the calling thread. Any JSON value is
// accepted; what is not a known command gets the "Unknown command" error.
// `watch` watches the command's long waits.
CommandAnswer answer_request(const std::string& storage_path, const JsonDocument& request,
                             WaitWatch* watch = nullptr);

// Notes an answered request in the log: what its storage operations met,
// then its type, the sizes of request and reply (`bytes_out`), the time
// since `started` on the log's clock and how it went.
void log_request(HostLog& log, const JsonDocument& request, const CommandAnswer& answer,
                 std::size_t bytes_out, std::chrono::nanoseconds started);

// Notes in the log why the input ended.
void log_input_end(HostLog& log, const InputEnd& end);

// Answers one request, sends the reply and notes it in the log.
void dispatch_request(const std::string& storage_path, const JsonDocument& request, HostLog& log,
                      WaitWatch* watch = nullptr);

}  // namespace tolvanik
