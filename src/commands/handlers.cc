#include "commands/handlers.h"

#include "probes/presence.h"
#include "storage/snapshot.h"
#include "storage/update.h"

namespace tolvanik {
namespace {

double incoming_stamp(const JsonValue& message) {
  const JsonValue* stamp = message.find("lastModified");
  return stamp != nullptr && stamp->is_number() ? stamp->as_double() : 0;
}

// The reply is built beside the snapshot's views, which it refers to.
JsonDocument reply_with_snapshot(StorageSnapshot snapshot, std::initializer_list<JsonMember> head) {
  JsonArena& arena = snapshot.document.arena();
  const auto members = arena.members(head.size() + 3);
  std::copy(head.begin(), head.end(), members.begin());
  members[head.size()] = {"activeTemplateId", JsonValue::string(snapshot.active_template_id)};
  members[head.size() + 1] = {"lastModified", JsonValue::number(snapshot.last_modified)};
  members[head.size() + 2] = {"templates", snapshot.templates};
  snapshot.document.set_root(arena.object(members));
  return std::move(snapshot.document);
}

// How the update went, in a few words.
std::string_view update_outcome(const StorageUpdate& update) {
  switch (update.outcome) {
    case UpdateOutcome::kCommitted:
      return "written";
    case UpdateOutcome::kNothingToUpdate:
      return "nothing to write";
    case UpdateOutcome::kRefused:
      return "refused";
    case UpdateOutcome::kFailed:
      break;
  }
  return "not written";
}

}  // namespace

CommandAnswer handle_get_status(const std::string& storage_path, WaitWatch* watch) {
  const bool running = is_desktop_app_running(watch);
  StorageSnapshot snapshot = read_storage_snapshot(storage_path, watch);
  const std::string_view outcome = snapshot.unreadable ? "storage unreadable" : "read";
  std::vector<StorageFacts> met{snapshot.facts};
  return {reply_with_snapshot(std::move(snapshot), {{"type", JsonValue::string("status")},
                                                    {"isRunning", JsonValue::boolean(running)}}),
          outcome, std::move(met)};
}

CommandAnswer handle_set_colors(const std::string& storage_path, const JsonDocument& message,
                                WaitWatch* watch) {
  const StorageUpdate update = update_storage(storage_path, message, watch);
  // Nothing to write leaves nothing undone.
  const bool success = update.outcome == UpdateOutcome::kCommitted ||
                       update.outcome == UpdateOutcome::kNothingToUpdate;
  JsonArena arena;
  const JsonValue reply = arena.object(
      {{"success", JsonValue::boolean(success)}, {"type", JsonValue::string("setColorsResult")}});
  return {JsonDocument(std::move(arena), reply), update_outcome(update), {update.facts}};
}

CommandAnswer handle_sync_request(const std::string& storage_path, const JsonDocument& message,
                                  WaitWatch* watch) {
  const double stamp = incoming_stamp(message.root());
  StorageSnapshot snapshot = read_storage_snapshot(storage_path, watch);
  std::vector<StorageFacts> met{snapshot.facts};
  if (snapshot.last_modified > stamp) {
    return {reply_with_snapshot(std::move(snapshot), {{"type", JsonValue::string("syncResponse")},
                                                      {"winner", JsonValue::string("mac")}}),
            "desktop won", std::move(met)};
  }
  // The reply does not depend on whether the write succeeded: the
  // extension learns only which side won. Storage that could not be read
  // may hold newer templates, so the extension's must not replace them.
  std::string_view outcome = "storage unreadable";
  if (!snapshot.unreadable) {
    StorageUpdate update = update_storage(storage_path, message, watch);
    outcome = update_outcome(update);
    met.push_back(std::move(update.facts));
  }
  JsonArena arena;
  const JsonValue reply = arena.object({{"lastModified", JsonValue::number(stamp)},
                                        {"type", JsonValue::string("syncResponse")},
                                        {"winner", JsonValue::string("chrome")}});
  return {JsonDocument(std::move(arena), reply), outcome, std::move(met)};
}

}  // namespace tolvanik
