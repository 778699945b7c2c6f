// Appends lines to a log file that several hosts write at once, and starts
// a new file once the current one is full.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolvanik {

inline constexpr std::uint64_t kLogFileLimit = 1024 * 1024;

class LogFileWriter {
 public:
  // Makes the log's folder and opens the lock file beside the log
  // ("host.log.lock"); nothing when either cannot be had.
  static std::optional<LogFileWriter> open(std::string path, std::uint64_t limit = kLogFileLimit);

  // Appends `line` whole. A file that the line would take past the limit is
  // first renamed to "<path>.1", replacing the one before, and a new file
  // begun. The writers of the log take turns through the lock file, so that
  // no writer renames a file under another's line or splits it. False when
  // the line could not be written.
  bool append(std::string_view line);

 private:
  LogFileWriter(std::string path, std::uint64_t limit, platform::FileHandle lock)
      : path_(std::move(path)), limit_(limit), lock_(std::move(lock)) {}

  std::string path_;
  std::uint64_t limit_;
  platform::FileHandle lock_;
};

}  // namespace tolvanik
