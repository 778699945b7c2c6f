// Notification of changes to the entries of one directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tolvanik::platform {

enum class ChangeKind { kCreate, kModify, kRemove, kOther };

// Which side of a rename a modify event reports.
enum class RenameSide { kNone, kOldName, kNewName };

struct DirectoryChange {
  ChangeKind kind = ChangeKind::kOther;
  RenameSide rename = RenameSide::kNone;
  // Full paths: the watched directory joined with the entry's name.
  std::vector<std::string> paths;
};

using DirectoryChangeCallback = std::function<void(const DirectoryChange&)>;

// Watches `directory`, without its subdirectories, and calls `on_change` once
// per change record, one call at a time, in the order the system reports
// them. Runs on the calling thread until the watch can no longer go on, and
// then returns why.
std::string watch_directory(const std::string& directory, const DirectoryChangeCallback& on_change);

}  // namespace tolvanik::platform
