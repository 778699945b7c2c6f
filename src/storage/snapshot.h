// The host's read-only view of the desktop application's stored state.
#pragma once

#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik {

struct StorageSnapshot {
  // Holds everything the members below refer to.
  JsonDocument document;
  // Views of the stored templates not marked deleted, in stored order.
  JsonValue templates = JsonValue::array({});
  std::string_view active_template_id;
  // Milliseconds since the Unix epoch.
  double last_modified = 0;
};

// Reads the storage file afresh under the storage lock. Never fails: what
// cannot be read gives the empty snapshot, a member of the wrong type its
// field's empty value.
StorageSnapshot read_storage_snapshot(const std::string& storage_path);

}  // namespace tolvanik
