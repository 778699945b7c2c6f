#include "storage/snapshot.h"

#include "storage/storage_file.h"
#include "templates/template_view.h"

namespace tolvanik {

StorageSnapshot read_storage_snapshot(const std::string& storage_path, WaitWatch* watch) {
  StorageSnapshot snapshot;
  const auto lock = lock_storage(storage_path, watch);
  if (!lock) {
    snapshot.unreadable = true;
    snapshot.facts.failures.push_back(lock.error());
    return snapshot;
  }
  snapshot.facts.lock_wait = lock->waited();
  LoadedStorage loaded = load_storage_document(storage_path);
  note_load(loaded, snapshot.facts);
  if (!loaded.document) {
    snapshot.unreadable = loaded.storage_file_unreadable;
    return snapshot;
  }
  StorageSnapshot loaded_snapshot = snapshot_of_document(std::move(*loaded.document));
  loaded_snapshot.facts = std::move(snapshot.facts);
  return loaded_snapshot;
}

StorageSnapshot snapshot_of_document(JsonDocument document) {
  StorageSnapshot snapshot;
  snapshot.document = std::move(document);
  const JsonValue& root = snapshot.document.root();
  if (const JsonValue* templates = root.find("tolvanik_templates");
      templates != nullptr && templates->is_array()) {
    snapshot.templates = visible_templates(templates->elements(), snapshot.document.arena());
  }
  if (const JsonValue* active = root.find("tolvanik_active_template");
      active != nullptr && active->is_string()) {
    snapshot.active_template_id = active->as_string();
  }
  if (const JsonValue* stamp = root.find("tolvanik_last_modified");
      stamp != nullptr && stamp->is_number()) {
    snapshot.last_modified = stamp->as_double();
  }
  return snapshot;
}

}  // namespace tolvanik
