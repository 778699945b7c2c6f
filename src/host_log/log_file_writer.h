// Appends lines to a log file that several hosts write at once, and starts
// a new file once the current one is full. Writing never holds the host up
// for longer than kLogLockPatience.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolvanik {

inline constexpr std::uint64_t kLogFileLimit = 1024 * 1024;

// The longest a writer waits for another to finish its lines. Another
// host's lines take microseconds; a holder that takes longer is stuck (a
// slow disk, a scanner, a debugger), and the lines are dropped instead.
inline constexpr std::chrono::milliseconds kLogLockPatience{5};

class LogFileWriter {
 public:
  // Makes the log's folder and opens the lock file beside the log
  // ("host.log.lock"), which also counts the log's roll-overs; nothing when
  // either cannot be had.
  static std::optional<LogFileWriter> open(std::string path, std::uint64_t limit = kLogFileLimit);

  // Appends `lines`, whole lines, in one write. A file that they would
  // take past the limit is first renamed to "<path>.1", replacing the one
  // before, and a new file begun. The writers of the log take turns through
  // the lock file, so that no writer renames a file under another's lines
  // or splits them. The file stays open between calls and is opened again
  // only when it was moved aside or deleted. False when the lines could not be written at
  // once: the lock was not had within kLogLockPatience, or the file failed.
  bool append(std::string_view lines);

 private:
  LogFileWriter(std::string path, std::uint64_t limit, platform::FileHandle lock)
      : path_(std::move(path)), limit_(limit), lock_(std::move(lock)) {}

  bool make_room(std::uint64_t bytes);

  std::string path_;
  std::uint64_t limit_;
  platform::FileHandle lock_;
  platform::FileHandle file_;
  // The lock file's count of roll-overs when file_ was last known current.
  std::uint64_t roll_overs_seen_ = 0;
};

}  // namespace tolvanik
