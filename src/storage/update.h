// Writes the extension's templates into the desktop application's storage.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "messaging/json.h"
#include "platform/wait_watch.h"
#include "storage/storage_facts.h"

namespace tolvanik {

enum class UpdateOutcome {
  kCommitted,
  // The message carried no "templates" array: no file was touched.
  kNothingToUpdate,
  // The storage file exists, cannot be read and has no readable backup:
  // replacing it would destroy data the host cannot read.
  kRefused,
  // The lock could not be had or the commit failed; the facts say why.
  kFailed,
};

struct StorageUpdate {
  UpdateOutcome outcome = UpdateOutcome::kFailed;
  StorageFacts facts;
};

// Merges the message's "templates", "activeTemplateId" and "lastModified"
// into the storage document under the storage lock and commits it. Every
// member of the document the host does not own is kept. Anything but a
// commit leaves every file as it was. `watch` watches the wait for the lock
// (see lock_storage); once the lock is held, the update runs to its end.
StorageUpdate update_storage(const std::string& storage_path, const JsonDocument& message,
                             WaitWatch* watch = nullptr);

// The storage document after merging `message` into `stored` (a root that
// is not an object counts as the empty object) with `stamp` as the time of
// the change, built in `arena` and sharing the untouched parts of `stored`;
// nothing when the message carries no "templates" array. Touches no file.
std::optional<JsonValue> updated_document(const JsonDocument& stored, const JsonDocument& message,
                                          double stamp, JsonArena& arena);

// The stamp an update stores for `now_since_epoch`: whole milliseconds, 0
// before the epoch.
double unix_millis_stamp(std::chrono::nanoseconds now_since_epoch);

}  // namespace tolvanik
