#include "commands/handlers.h"

#include "probes/presence.h"
#include "storage/snapshot.h"
#include "storage/update.h"

namespace tolvanik {
namespace {

double incoming_stamp(const Json& message) {
  if (!message.is_object()) return 0;
  const auto stamp = message.find("lastModified");
  return stamp != message.end() && stamp->is_number() ? stamp->get<double>() : 0;
}

}  // namespace

Json handle_get_status(const std::string& storage_path) {
  const bool running = is_desktop_app_running();
  StorageSnapshot snapshot = read_storage_snapshot(storage_path);
  return {{"type", "status"},
          {"isRunning", running},
          {"activeTemplateId", std::move(snapshot.active_template_id)},
          {"lastModified", snapshot.last_modified},
          {"templates", std::move(snapshot.templates)}};
}

Json handle_set_colors(const std::string& storage_path, const Json& message) {
  const bool stored = update_storage(storage_path, message).has_value();
  return {{"type", "setColorsResult"}, {"success", stored}};
}

Json handle_sync_request(const std::string& storage_path, const Json& message) {
  const double stamp = incoming_stamp(message);
  StorageSnapshot snapshot = read_storage_snapshot(storage_path);
  if (snapshot.last_modified > stamp) {
    return {{"type", "syncResponse"},
            {"winner", "mac"},
            {"activeTemplateId", std::move(snapshot.active_template_id)},
            {"lastModified", snapshot.last_modified},
            {"templates", std::move(snapshot.templates)}};
  }
  // The reply does not depend on whether the write succeeded: the
  // extension learns only which side won. Storage that could not be read
  // may hold newer templates, so the extension's must not replace them.
  if (!snapshot.unreadable) (void)update_storage(storage_path, message);
  return {{"type", "syncResponse"}, {"winner", "chrome"}, {"lastModified", stamp}};
}

}  // namespace tolvanik
