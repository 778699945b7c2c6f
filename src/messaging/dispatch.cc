#include "messaging/dispatch.h"

#include <algorithm>
#include <array>

#include "commands/handlers.h"
#include "messaging/framing.h"

namespace tolvanik {
namespace {

JsonDocument fixed_reply(std::string_view type, std::string_view message) {
  JsonArena arena(2 * sizeof(JsonMember));
  const JsonValue reply =
      arena.object({{"message", JsonValue::string(message)}, {"type", JsonValue::string(type)}});
  return JsonDocument(std::move(arena), reply);
}

JsonDocument answer_ping(const std::string&, const JsonDocument&) {
  return fixed_reply("pong", "Hello from Windows!");
}

JsonDocument answer_get_status(const std::string& storage_path, const JsonDocument&) {
  return handle_get_status(storage_path);
}

JsonDocument answer_unknown(const std::string&, const JsonDocument&) {
  return fixed_reply("error", "Unknown command");
}

constexpr std::array kCommands{
    Command{"ping", CommandReach::kNothing, answer_ping},
    Command{"getStatus", CommandReach::kReadsStorage, answer_get_status},
    Command{"setColors", CommandReach::kWritesStorage, handle_set_colors},
    Command{"syncRequest", CommandReach::kWritesStorage, handle_sync_request},
};

constexpr Command kUnknownCommand{"", CommandReach::kNothing, answer_unknown};

}  // namespace

std::string_view request_type(const JsonValue& request) {
  const JsonValue* type = request.find("type");
  return type != nullptr && type->is_string() ? type->as_string() : std::string_view();
}

const Command& find_command(std::string_view type) {
  const auto found = std::ranges::find_if(
      kCommands, [type](const Command& command) { return command.type == type; });
  return found == kCommands.end() ? kUnknownCommand : *found;
}

JsonDocument answer_request(const std::string& storage_path, const JsonDocument& request) {
  return find_command(request_type(request.root())).answer(storage_path, request);
}

void dispatch_request(const std::string& storage_path, const JsonDocument& request) {
  send_message(answer_request(storage_path, request));
}

}  // namespace tolvanik
