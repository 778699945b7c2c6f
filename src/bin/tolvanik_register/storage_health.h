// The health of the desktop application's storage file, seen without
// touching it: nothing here writes, creates or removes the storage file,
// its backup or its temporary file, and the lock is only tried and let go.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "messaging/framing.h"

namespace tolvanik::registration {

using namespace std::chrono_literals;

// How long check waits for the storage lock before it says who holds it.
inline constexpr std::chrono::milliseconds kLockPatience = 2s;

// What one of the files holds, as the host's tolerant read sees it.
enum class FileState {
  kMissing,
  // There, but reading it failed.
  kUnreadable,
  // Empty, or "{}": nothing the host keeps.
  kEmpty,
  // Not a JSON object.
  kNotAnObject,
  kObject,
};

enum class LockState { kFree, kHeld, kUnknown };

enum class StatusSource { kNone, kHost, kOwnRead };

struct StorageFindings {
  std::string path;
  FileState file = FileState::kMissing;
  std::string read_error;
  std::uint64_t bytes = 0;
  FileState backup = FileState::kMissing;
  bool leftover_temporary = false;
  LockState lock = LockState::kUnknown;
  bool network_drive = false;
  // Of the document the host reads: the storage file, or the backup it
  // falls back to.
  bool reads_backup = false;
  std::size_t templates = 0;
  std::size_t hidden = 0;
  // Where the "status" reply's figures come from: the host's own reply;
  // check's read of the files, built as the host builds its reply, where
  // asking the host would have put the backup over the storage file; or
  // nowhere, where neither can tell.
  StatusSource status_source = StatusSource::kNone;
  std::optional<std::size_t> status_bytes;
  std::optional<std::size_t> shown;
  std::optional<bool> desktop_running;
  // What fails check, and what only deserves a look.
  std::vector<std::string> problems;
  std::vector<std::string> warnings;

  bool ok() const { return problems.empty(); }
};

// The host's payload for "getStatus", or nothing when it gave none.
using StatusAsker = std::function<std::optional<std::string>()>;

// Looks at the storage file at `path` and the files beside it and tries the
// lock for at most kLockPatience. Only while the lock is free and the
// storage file holds a JSON object with members, so that the host reads it
// as it is, is the host asked for its status through `ask_status` (when
// there is a host to ask); otherwise the reply is built from this look.
StorageFindings examine_storage(const std::string& path, const StatusAsker& ask_status);

// A "status" reply of `bytes` showing `shown` templates, against the
// browsers' limit: fine below 90 % of it, worth a warning up to it, a
// failure above it.
enum class SizeLevel { kFine, kNear, kOver };
struct SizeVerdict {
  SizeLevel level = SizeLevel::kFine;
  std::string text;
};
SizeVerdict judge_status_size(std::size_t bytes, std::size_t shown);

}  // namespace tolvanik::registration
