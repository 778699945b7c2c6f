#include "storage/snapshot.h"

#include "storage/storage_file.h"
#include "templates/template_view.h"

namespace tolvanik {

StorageSnapshot read_storage_snapshot(const std::string& storage_path) {
  StorageSnapshot snapshot;
  const auto lock = lock_storage(storage_path);
  if (!lock) {
    snapshot.unreadable = true;
    return snapshot;
  }
  const LoadedStorage loaded = load_storage_document(storage_path);
  if (!loaded.document) {
    snapshot.unreadable = loaded.storage_file_unreadable;
    return snapshot;
  }
  const Json& document = *loaded.document;

  if (const auto templates = document.find("tolvanik_templates");
      templates != document.end() && templates->is_array()) {
    snapshot.templates = visible_templates(templates->get_ref<const Json::array_t&>());
  }
  if (const auto active = document.find("tolvanik_active_template");
      active != document.end() && active->is_string()) {
    snapshot.active_template_id = active->get<std::string>();
  }
  if (const auto stamp = document.find("tolvanik_last_modified");
      stamp != document.end() && stamp->is_number()) {
    snapshot.last_modified = stamp->get<double>();
  }
  return snapshot;
}

}  // namespace tolvanik
