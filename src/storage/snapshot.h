// The host's read-only view of the desktop application's stored state.
#pragma once

#include <string>
#include <string_view>

#include "messaging/json.h"
#include "platform/wait_watch.h"
#include "storage/storage_facts.h"

namespace tolvanik {

struct StorageSnapshot {
  // Holds everything the members below refer to.
  JsonDocument document;
  // Views of the stored templates not marked deleted, in stored order.
  JsonValue templates = JsonValue::array({});
  std::string_view active_template_id;
  // Milliseconds since the Unix epoch.
  double last_modified = 0;
  // The storage could not be locked, or holds a storage file that could not
  // be read: the fields above say nothing about the desktop's state.
  bool unreadable = false;
  StorageFacts facts;
};

// Reads the storage file afresh under the storage lock. What cannot be read
// gives the empty snapshot, marked unreadable when a storage file may hold
// data after all; a member of the wrong type gives its field's empty value.
// `watch` watches the wait for the lock (see lock_storage).
StorageSnapshot read_storage_snapshot(const std::string& storage_path, WaitWatch* watch = nullptr);

// The snapshot of a document already read, as read_storage_snapshot makes
// it: for a look at the files that must not lock or restore anything.
StorageSnapshot snapshot_of_document(JsonDocument document);

}  // namespace tolvanik
