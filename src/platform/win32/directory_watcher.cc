#include "platform/directory_watcher.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

constexpr DWORD kBufferBytes = 16384;
// FILE_NAME | DIR_NAME | ATTRIBUTES | SIZE | LAST_WRITE | CREATION | SECURITY
constexpr DWORD kNotifyFilter = 0x15F;

// Records are DWORD-aligned within the buffer, so the buffer must be too.
using ChangeBuffer = std::array<DWORD, kBufferBytes / sizeof(DWORD)>;

bool issue_read(HANDLE directory, ChangeBuffer& buffer, OVERLAPPED& overlapped) {
  ResetEvent(overlapped.hEvent);
  return ReadDirectoryChangesW(directory, buffer.data(), kBufferBytes, FALSE, kNotifyFilter,
                               nullptr, &overlapped, nullptr) != 0;
}

// The change a record reports, or nothing for actions that are not passed on.
std::optional<DirectoryChange> change_for(DWORD action) {
  DirectoryChange change;
  switch (action) {
    case FILE_ACTION_ADDED:
      change.kind = ChangeKind::kCreate;
      return change;
    case FILE_ACTION_REMOVED:
      change.kind = ChangeKind::kRemove;
      return change;
    case FILE_ACTION_MODIFIED:
      change.kind = ChangeKind::kModify;
      return change;
    case FILE_ACTION_RENAMED_OLD_NAME:
      change.kind = ChangeKind::kModify;
      change.rename = RenameSide::kOldName;
      return change;
    case FILE_ACTION_RENAMED_NEW_NAME:
      change.kind = ChangeKind::kModify;
      change.rename = RenameSide::kNewName;
      return change;
    default:
      return std::nullopt;
  }
}

// Hands on the records of one completed read, in buffer order. The walk
// stays within the bytes the system reported, whatever the records claim.
void deliver(const ChangeBuffer& buffer, DWORD bytes, const std::string& directory,
             const DirectoryChangeCallback& on_change) {
  const auto* base = reinterpret_cast<const std::byte*>(buffer.data());
  const std::size_t end = std::min<std::size_t>(bytes, kBufferBytes);
  constexpr std::size_t kHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  std::size_t offset = 0;
  while (offset + kHeader <= end) {
    const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
    const std::size_t name_bytes =
        std::min<std::size_t>(record->FileNameLength, end - offset - kHeader);
    if (auto change = change_for(record->Action)) {
      const std::wstring_view name(record->FileName, name_bytes / sizeof(wchar_t));
      change->paths.push_back(directory + "\\" + to_utf8_lossy(name));
      on_change(*change);
    }
    if (record->NextEntryOffset == 0) break;
    offset += record->NextEntryOffset;
  }
}

}  // namespace

std::string watch_directory(const std::string& directory,
                            const DirectoryChangeCallback& on_change) {
  const OwnedHandle handle(CreateFileW(to_wide_path(directory).c_str(), FILE_LIST_DIRECTORY,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle.valid()) return last_error_text();
  const OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.valid()) return last_error_text();

  // While the system fills one buffer the other is handed on.
  std::array<ChangeBuffer, 2> buffers{};
  std::size_t filling = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  if (!issue_read(handle.get(), buffers[filling], overlapped)) return last_error_text();
  while (true) {
    DWORD bytes = 0;
    if (!GetOverlappedResult(handle.get(), &overlapped, &bytes, TRUE)) {
      // Any other failure, an overflow among them, is a batch like any other.
      if (GetLastError() == ERROR_OPERATION_ABORTED) return "the watch was cancelled";
    }
    const std::size_t completed = filling;
    filling ^= 1;
    // The next read goes out first, so that changes made while this batch is
    // handed on are caught.
    const bool reissued = issue_read(handle.get(), buffers[filling], overlapped);
    const DWORD reissue_error = GetLastError();
    deliver(buffers[completed], bytes, directory, on_change);
    if (!reissued) return error_text(reissue_error);
  }
}

}  // namespace tolvanik::platform
