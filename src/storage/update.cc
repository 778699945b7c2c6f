#include "storage/update.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/clock.h"
#include "storage/storage_file.h"
#include "templates/template_merge.h"

namespace tolvanik {
namespace {

constexpr std::string_view kDefaultDeviceId = "chrome-host";

std::string_view device_id_of(const JsonValue& document) {
  const JsonValue* config = document.find("tolvanik_sync_config");
  const JsonValue* device_id = config ? config->find("deviceId") : nullptr;
  return device_id && device_id->is_string() ? device_id->as_string() : kDefaultDeviceId;
}

JsonValue merge_all(std::span<const JsonValue> incoming, const JsonValue& document, double stamp,
                    JsonArena& arena) {
  const JsonValue* stored = document.find("tolvanik_templates");
  const StoredTemplateIndex index = build_stored_template_index(stored ? *stored : JsonValue());
  const std::string_view device_id = device_id_of(document);
  const auto merged = arena.values(incoming.size());
  for (std::size_t i = 0; i < incoming.size(); ++i) {
    merged[i] = merge_template(incoming[i], index, stamp, device_id, arena);
  }
  return JsonValue::array(merged);
}

// The stored members with the host's three replaced, sharing everything
// else with the stored document.
JsonValue replace_host_members(const JsonValue& document, const std::array<JsonMember, 3>& own,
                               JsonArena& arena) {
  const auto stored = document.is_object() ? document.members() : std::span<const JsonMember>();
  const auto members = arena.members(stored.size() + own.size());
  const auto is_own = [&](std::string_view name) {
    return std::any_of(own.begin(), own.end(), [&](const JsonMember& m) { return m.name == name; });
  };
  std::size_t count = 0;
  for (const JsonMember& member : stored) {
    if (!is_own(member.name)) members[count++] = member;
  }
  for (const JsonMember& member : own) members[count++] = member;
  return arena.object(members.first(count));
}

}  // namespace

double unix_millis_stamp(std::chrono::nanoseconds now_since_epoch) {
  if (now_since_epoch.count() < 0) return 0;
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now_since_epoch).count());
}

std::optional<JsonValue> updated_document(const JsonDocument& stored, const JsonDocument& message,
                                          double stamp, JsonArena& arena) {
  const JsonValue* templates = message.root().find("templates");
  if (!templates || !templates->is_array()) return std::nullopt;
  const JsonValue* active = message.root().find("activeTemplateId");
  const JsonValue merged = merge_all(templates->elements(), stored.root(), stamp, arena);
  return replace_host_members(stored.root(),
                              {{{"tolvanik_active_template",
                                 active && active->is_string() ? *active : JsonValue::string("")},
                                {"tolvanik_last_modified", JsonValue::number(stamp)},
                                {"tolvanik_templates", merged}}},
                              arena);
}

StorageUpdate update_storage(const std::string& storage_path, const JsonDocument& message,
                             WaitWatch* watch) {
  StorageUpdate update;
  const JsonValue* templates = message.root().find("templates");
  if (!templates || !templates->is_array()) {
    update.outcome = UpdateOutcome::kNothingToUpdate;
    return update;
  }
  const JsonValue* last_modified = message.root().find("lastModified");
  // Taken before the lock, so that a long wait for it does not move the stamp.
  const double stamp = last_modified && last_modified->is_number()
                           ? last_modified->as_double()
                           : unix_millis_stamp(platform::system_time_since_epoch());

  const auto lock = lock_storage(storage_path, watch);
  if (!lock) {
    update.facts.failures.push_back(lock.error());
    return update;
  }
  update.facts.lock_wait = lock->waited();
  const LoadedStorage loaded = load_storage_document(storage_path);
  note_load(loaded, update.facts);
  if (!loaded.document && loaded.storage_file_unreadable) {
    update.facts.update_refused = true;
    update.outcome = UpdateOutcome::kRefused;
    return update;
  }
  const JsonDocument no_document;
  JsonArena arena;
  const std::optional<JsonValue> document =
      updated_document(loaded.document ? *loaded.document : no_document, message, stamp, arena);
  const CommitOutcome committed = commit_storage_document(storage_path, *document);
  if (committed.backup_failure) update.facts.failures.push_back(*committed.backup_failure);
  if (!committed.written) update.facts.failures.push_back(committed.written.error());
  update.outcome = committed.written ? UpdateOutcome::kCommitted : UpdateOutcome::kFailed;
  return update;
}

}  // namespace tolvanik
