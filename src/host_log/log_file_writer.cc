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
  auto lock = platform::open_lock_file(path + ".lock");
  if (!lock) return std::nullopt;
  return LogFileWriter(std::move(path), limit, std::move(*lock));
}

bool LogFileWriter::append(std::string_view line) {
  if (!platform::lock_whole_file(lock_)) return false;
  const LockTurn turn(lock_);
  auto file = platform::open_for_append(path_);
  if (!file) return false;
  const auto size = platform::size_of_open_file(*file);
  if (size && *size > 0 && *size + line.size() > limit_) {
    *file = platform::FileHandle();
    // Should the rename fail (a reader holding the old file without delete
    // sharing), the line still goes to the full file.
    (void)platform::replace_file(path_, path_ + ".1");
    file = platform::open_for_append(path_);
    if (!file) return false;
  }
  return platform::append_in_one_write(*file, line).has_value();
}

}  // namespace tolvanik
