#include "messaging/dispatch.h"

#include "commands/handlers.h"
#include "messaging/framing.h"

namespace tolvanik {
namespace {

JsonDocument fixed_reply(std::string_view type, std::string_view message) {
  JsonArena arena;
  const JsonValue reply =
      arena.object({{"message", JsonValue::string(message)}, {"type", JsonValue::string(type)}});
  return JsonDocument(std::move(arena), reply);
}

}  // namespace

std::string_view request_type(const JsonValue& request) {
  const JsonValue* type = request.find("type");
  return type != nullptr && type->is_string() ? type->as_string() : std::string_view();
}

void dispatch_request(const std::string& storage_path, const JsonDocument& request) {
  const std::string_view type = request_type(request.root());
  if (type == "ping") {
    send_message(fixed_reply("pong", "Hello from Windows!"));
  } else if (type == "getStatus") {
    send_message(handle_get_status(storage_path));
  } else if (type == "setColors") {
    send_message(handle_set_colors(storage_path, request));
  } else if (type == "syncRequest") {
    send_message(handle_sync_request(storage_path, request));
  } else {
    send_message(fixed_reply("error", "Unknown command"));
  }
}

}  // namespace tolvanik
