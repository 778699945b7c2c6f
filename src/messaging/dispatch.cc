#include "messaging/dispatch.h"

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

}  // namespace

std::string_view request_type(const JsonValue& request) {
  const JsonValue* type = request.find("type");
  return type != nullptr && type->is_string() ? type->as_string() : std::string_view();
}

JsonDocument answer_request(const std::string& storage_path, const JsonDocument& request) {
  const std::string_view type = request_type(request.root());
  if (type == "ping") return fixed_reply("pong", "Hello from Windows!");
  if (type == "getStatus") return handle_get_status(storage_path);
  if (type == "setColors") return handle_set_colors(storage_path, request);
  if (type == "syncRequest") return handle_sync_request(storage_path, request);
  return fixed_reply("error", "Unknown command");
}

bool answered_at_once(std::string_view type) {
  return type != "getStatus" && type != "setColors" && type != "syncRequest";
}

void dispatch_request(const std::string& storage_path, const JsonDocument& request) {
  send_message(answer_request(storage_path, request));
}

}  // namespace tolvanik
