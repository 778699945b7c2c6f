#include "messaging/dispatch.h"

#include "commands/handlers.h"
#include "messaging/framing.h"

namespace tolvanik {
namespace {

Json pong_reply() { return {{"type", "pong"}, {"message", "Hello from Windows!"}}; }

Json unknown_command_reply() { return {{"type", "error"}, {"message", "Unknown command"}}; }

}  // namespace

std::string request_type(const Json& request) {
  if (!request.is_object()) return {};
  const auto type = request.find("type");
  if (type == request.end() || !type->is_string()) return {};
  return type->get<std::string>();
}

void dispatch_request(const std::string& storage_path, const Json& request) {
  const std::string type = request_type(request);
  if (type == "ping") {
    send_message(pong_reply());
  } else if (type == "getStatus") {
    send_message(handle_get_status(storage_path));
  } else if (type == "setColors") {
    send_message(handle_set_colors(storage_path, request));
  } else if (type == "syncRequest") {
    send_message(handle_sync_request(storage_path, request));
  } else {
    send_message(unknown_command_reply());
  }
}

}  // namespace tolvanik
