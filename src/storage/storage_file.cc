#include "storage/storage_file.h"

#include <string_view>

#include "platform/clock.h"
#include "storage/location.h"

namespace tolvanik {
namespace {

enum class ObjectFileState { kObject, kAbsentOrEmpty, kOtherContent, kReadFailed };

struct ObjectFile {
  std::optional<JsonDocument> object;
  ObjectFileState state = ObjectFileState::kAbsentOrEmpty;
};

// "{}" and an empty file hold nothing worth keeping; anything else that is
// not an object with members is content the host does not understand.
ObjectFile read_object_file(const std::string& path) {
  auto text = platform::read_whole_file(path, kJsonReadingSpare);
  if (!text) {
    return {std::nullopt, platform::file_exists(path) ? ObjectFileState::kReadFailed
                                                      : ObjectFileState::kAbsentOrEmpty};
  }
  if (text->empty()) return {};
  auto value = parse_json_in_place(std::move(*text));
  if (!value || !value->root().is_object()) return {std::nullopt, ObjectFileState::kOtherContent};
  if (value->root().members().empty()) return {};
  return {std::move(value), ObjectFileState::kObject};
}

// Replaces `to` with a copy of `from` such that a reader, or a crash at any
// moment, finds either the old or the whole new content of `to`: the copy
// goes durably to the temporary file first, which is then renamed over it.
std::expected<void, std::string> copy_through_temporary(const std::string& from,
                                                        const std::string& to,
                                                        const std::string& temporary_path) {
  if (auto copied = platform::copy_file_durably(from, temporary_path); !copied) {
    return std::unexpected("Write error: " + copied.error());
  }
  if (auto renamed = platform::replace_file(temporary_path, to); !renamed) {
    return std::unexpected("Rename error: " + renamed.error());
  }
  return {};
}

std::optional<std::string> failure_of(const std::expected<void, std::string>& done) {
  if (done) return std::nullopt;
  return done.error();
}

// Size of the pieces the new text is written in. Each piece is one write
// to the file, and every write wakes whoever watches the storage directory;
// the buffer is taken once per commit, so a larger piece costs its size in
// memory and no more.
constexpr std::size_t kPieceBytes = 256 * 1024;

// Appends each piece of text to the file and keeps the first failure.
class AppendingSink final : public JsonSink {
 public:
  explicit AppendingSink(platform::DurableFile& file) : file_(file) {}

  bool take(std::string_view piece) override {
    appended_ = file_.append(piece);
    return appended_.has_value();
  }
  const std::expected<void, std::string>& appended() const { return appended_; }

 private:
  platform::DurableFile& file_;
  std::expected<void, std::string> appended_;
};

// The temporary file holding the pretty-printed text of `document`, written
// and flushed, for the caller to rename into place. The text goes to the
// file as it is made: held whole, it would be the largest single block of
// an update.
std::expected<platform::DurableFile, std::string> write_temporary_file(
    const std::string& temporary_path, const JsonValue& document) {
  auto file = platform::DurableFile::create(temporary_path);
  if (!file) return file;
  AppendingSink sink(*file);
  std::string buffer(kPieceBytes, '\0');
  if (!write_pretty_json(document, buffer, sink)) return std::unexpected(sink.appended().error());
  if (auto flushed = file->flush_and_close(); !flushed) {
    return std::unexpected(std::move(flushed.error()));
  }
  return file;
}

}  // namespace

StorageLock::~StorageLock() {
  if (file_.is_open()) platform::unlock_whole_file(file_);
}

std::expected<StorageLock, std::string> lock_storage(const std::string& storage_path,
                                                     WaitWatch* watch) {
  const auto asked = platform::monotonic_now();
  auto file = platform::open_lock_file(sibling_path(storage_path, kLockExtension));
  if (!file) return std::unexpected("Lock file open error: " + file.error());
  if (watch == nullptr) {
    if (auto locked = platform::lock_whole_file(*file); !locked) {
      return std::unexpected("File lock error: " + locked.error());
    }
    return StorageLock(std::move(*file), platform::monotonic_now() - asked);
  }
  while (true) {
    const auto taken = platform::try_lock_whole_file(*file, kWaitSlice);
    if (!taken) return std::unexpected("File lock error: " + taken.error());
    if (*taken) return StorageLock(std::move(*file), platform::monotonic_now() - asked);
    if (watch->waited_for_nobody()) {
      *file = platform::FileHandle();
      watch->end_host("storage lock", platform::monotonic_now() - asked);
    }
  }
}

std::optional<JsonDocument> read_json_object(const std::string& path) {
  return read_object_file(path).object;
}

LoadedStorage load_storage_document(const std::string& storage_path) {
  ObjectFile storage = read_object_file(storage_path);
  LoadedStorage loaded;
  if (storage.object) {
    loaded.document = std::move(storage.object);
    return loaded;
  }
  // A storage file that is there but could not be read just now may well
  // be newer than the backup: restoring over it would throw that away.
  if (storage.state == ObjectFileState::kReadFailed) {
    loaded.storage_file_unreadable = true;
    return loaded;
  }
  const std::string backup_path = sibling_path(storage_path, kBackupExtension);
  loaded.document = read_json_object(backup_path);
  if (!loaded.document) {
    loaded.storage_file_unreadable = storage.state != ObjectFileState::kAbsentOrEmpty;
    return loaded;
  }
  // Failing to restore costs nothing now: the backup's content is used.
  loaded.from_backup = true;
  loaded.restore_failure = failure_of(copy_through_temporary(
      backup_path, storage_path, sibling_path(storage_path, kTemporaryExtension)));
  return loaded;
}

void note_load(const LoadedStorage& loaded, StorageFacts& facts) {
  facts.backup_loaded = loaded.from_backup;
  if (loaded.restore_failure) facts.failures.push_back(*loaded.restore_failure);
}

CommitOutcome commit_storage_document(const std::string& storage_path, const JsonValue& document) {
  const std::string temporary_path = sibling_path(storage_path, kTemporaryExtension);
  CommitOutcome outcome;
  if (platform::file_exists(storage_path)) {
    // A stale backup is better than none, and the new text must still go in.
    outcome.backup_failure = failure_of(copy_through_temporary(
        storage_path, sibling_path(storage_path, kBackupExtension), temporary_path));
  }
  auto written = write_temporary_file(temporary_path, document);
  if (!written) {
    outcome.written = std::unexpected("Write error: " + written.error());
  } else if (auto renamed = written->rename_over(storage_path); !renamed) {
    outcome.written = std::unexpected("Rename error: " + renamed.error());
  }
  return outcome;
}

}  // namespace tolvanik
