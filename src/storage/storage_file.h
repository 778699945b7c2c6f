// The discipline around the desktop application's storage file: the lock
// beside it, the tolerant read that falls back to the backup, and the
// commit of a new document by backup copy, temporary file and rename.
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>

#include "messaging/json.h"
#include "platform/files.h"
#include "platform/wait_watch.h"
#include "storage/storage_facts.h"

namespace tolvanik {

// Holds the exclusive lock on storage.json.lock; letting go of the object
// unlocks and closes the file.
class StorageLock {
 public:
  StorageLock(platform::FileHandle file, std::chrono::nanoseconds waited)
      : file_(std::move(file)), waited_(waited) {}
  StorageLock(StorageLock&&) noexcept = default;
  StorageLock& operator=(StorageLock&&) = delete;
  ~StorageLock();

  // How long taking the lock took.
  std::chrono::nanoseconds waited() const { return waited_; }

 private:
  platform::FileHandle file_;
  std::chrono::nanoseconds waited_;
};

// Waits as long as it takes for the storage lock. With a `watch`, a lock
// that is not free at once is waited for in slices, and the watch ends the
// host between two slices once the wait is for nobody. Fails with a text
// that starts "Lock file open error: " or "File lock error: ".
std::expected<StorageLock, std::string> lock_storage(const std::string& storage_path,
                                                     WaitWatch* watch = nullptr);

// The JSON object in the file at `path` when it has at least one member.
std::optional<JsonDocument> read_json_object(const std::string& path);

struct LoadedStorage {
  // The storage file's object, else the backup's; nothing when neither has one.
  std::optional<JsonDocument> document;
  // The storage file exists and could not be read, or holds something other
  // than nothing or a JSON object. Replacing it would destroy data the host
  // cannot read.
  bool storage_file_unreadable = false;
  // The document is the backup's.
  bool from_backup = false;
  // Why the backup could not be restored over the storage file, with its
  // prefix; the backup's document is used all the same.
  std::optional<std::string> restore_failure;
};

// Reads the storage document; restores the backup, through the temporary
// file, over a storage file that yields no document. A storage file that
// exists but cannot be read gives no document and is left alone. Call only
// while holding the StorageLock.
LoadedStorage load_storage_document(const std::string& storage_path);

// Adds what the load met to `facts`.
void note_load(const LoadedStorage& loaded, StorageFacts& facts);

struct CommitOutcome {
  // The new document is in place, or why not.
  std::expected<void, std::string> written;
  // Why the backup could not be made; the commit goes on without it.
  std::optional<std::string> backup_failure;
};

// Replaces the storage file with the pretty-printed text of `document`:
// the current file is copied durably to the temporary file and that is
// renamed over the backup; then the new text goes durably to the temporary
// file as it is made, which is renamed over the storage file. A crash at any
// moment leaves each file old or whole. Failures are texts that start
// "Write error: " or "Rename error: "; a failed commit leaves the storage
// file as it was. Call only while holding the StorageLock.
CommitOutcome commit_storage_document(const std::string& storage_path, const JsonValue& document);

}  // namespace tolvanik
