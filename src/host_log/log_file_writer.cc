#include "host_log/log_file_writer.h"

#include "platform/log_file.h"
#include "storage/location.h"

namespace tolvanik {
namespace {

class LockTurn {
 public:
  explicit LockTurn(const platform::FileHandle& lock) : lock_(lock) {}
  LockTurn(const LockTurn&) = delete;
  LockTurn& operator=(const LockTurn&) = delete;
  ~LockTurn() { platform::unlock_whole_file(lock_); }

 private:
  const platform::FileHandle& lock_;
};

}  // namespace

std::optional<LogFileWriter> LogFileWriter::open(std::string path, std::uint64_t limit) {
  if (!platform::create_directories(parent_directory(path))) return std::nullopt;
  auto lock = platform::open_log_lock(path + ".lock");
  if (!lock) return std::nullopt;
  return LogFileWriter(std::move(path), limit, std::move(*lock));
}

bool LogFileWriter::append(std::string_view lines) {
  const auto taken = platform::try_lock_whole_file(lock_, kLogLockPatience);
  if (!taken || !*taken) return false;
  const LockTurn turn(lock_);
  if (!make_room(lines.size())) return false;
  return platform::append_in_one_write(file_, lines).has_value();
}

// Leaves file_ open on the log at path_, with room for `bytes` more.
bool LogFileWriter::make_room(std::uint64_t bytes) {
  const auto roll_overs = platform::size_of_open_file(lock_);
  if (!roll_overs) return false;
  // Moved aside by another writer since this one's last turn, or deleted by
  // a person clearing the log: the lines go to the file now at path_.
  if (file_.is_open() && (*roll_overs != roll_overs_seen_ || platform::is_unlinked(file_))) {
    file_ = platform::FileHandle();
  }
  roll_overs_seen_ = *roll_overs;
  if (!file_.is_open()) {
    auto file = platform::open_for_append(path_);
    if (!file) return false;
    file_ = std::move(*file);
  }
  const auto size = platform::size_of_open_file(file_);
  if (!size || *size == 0 || *size + bytes <= limit_) return true;
  file_ = platform::FileHandle();
  // Should the rename fail (a reader holding the old file without delete
  // sharing), the lines still go to the full file.
  if (platform::rename_log_file(path_, path_ + ".1") && platform::count_roll_over(lock_)) {
    ++roll_overs_seen_;
  }
  auto file = platform::open_for_append(path_);
  if (!file) return false;
  file_ = std::move(*file);
  return true;
}

}  // namespace tolvanik
