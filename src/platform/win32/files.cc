#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::size_t kMaxTransfer = 1u << 30;
// The headers declare this class only for a newer _WIN32_WINNT than the one
// the build targets; its value is fixed by the system's interface.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// How often a bounded wait for a lock asks again.

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

std::expected<FileHandle, std::string> open_file(const std::string& path, DWORD access,
                                                 DWORD disposition, DWORD attributes) {
  const HANDLE handle = CreateFileW(to_wide_path(path).c_str(), access, kShareAll, nullptr,
                                    disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_error_text());
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(bytes.size(), kMaxTransfer));
    if (!WriteFile(file, bytes.data(), wanted, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

// Renames through an open handle of `from`. Unlike MoveFileExW this can
// replace a target that another process holds open with delete sharing,
// which the desktop application may do with its storage file.
std::expected<void, std::string> rename_by_handle(const std::string& from, const std::string& to) {
  auto source = open_file(from, DELETE | SYNCHRONIZE, OPEN_EXISTING, 0);
  if (!source) return std::unexpected(std::move(source.error()));
  const std::wstring target = to_wide_path(to);
  const DWORD name_bytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  // The name travels inside the structure, with a terminator after it.
  std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = name_bytes;
  std::memcpy(info->FileName, target.c_str(), name_bytes + sizeof(wchar_t));
  const DWORD size = static_cast<DWORD>(buffer.size());
  if (SetFileInformationByHandle(handle_of(*source), kFileRenameInfoEx, info, size)) return {};
  if (GetLastError() != ERROR_INVALID_PARAMETER) return std::unexpected(last_error_text());
  // Systems before Windows 10 1607, and Wine, know only the plain rename.
  info->Flags = 0;
  info->ReplaceIfExists = TRUE;
  if (SetFileInformationByHandle(handle_of(*source), FileRenameInfo, info, size)) return {};
  return std::unexpected(last_error_text());
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept
    : native_(std::exchange(other.native_, kInvalid)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (is_open()) CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = std::exchange(other.native_, kInvalid);
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (is_open()) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

std::expected<FileHandle, std::string> open_lock_file(const std::string& path) {
  return open_file(path, GENERIC_WRITE, OPEN_ALWAYS, 0);
}

std::expected<void, std::string> lock_whole_file(const FileHandle& file) {
  OVERLAPPED range{};
  if (!LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &range)) {
    return std::unexpected(last_error_text());
  }
  return {};
}

void unlock_whole_file(const FileHandle& file) {
  UnlockFile(handle_of(file), 0, 0, MAXDWORD, MAXDWORD);
}

std::expected<std::string, std::string> read_whole_file(const std::string& path,
                                                        std::size_t spare_capacity) {
  auto file = open_file(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) return std::unexpected(std::move(file.error()));
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(*file), &size)) return std::unexpected(last_error_text());
  // One byte beyond the size lets the first read take the whole file and
  // the second find its end; a file that grows meanwhile is read on.
  std::string content;
  content.reserve(static_cast<std::size_t>(size.QuadPart) + 1 + spare_capacity);
  while (true) {
    if (content.capacity() - content.size() <= spare_capacity) {
      content.reserve(2 * content.capacity());
    }
    const std::size_t filled = content.size();
    DWORD got = 0;
    bool read = false;
    // Read straight into the string, without clearing the room first.
    content.resize_and_overwrite(
        content.capacity() - spare_capacity, [&](char* bytes, std::size_t room) {
          const auto wanted = static_cast<DWORD>(std::min(room - filled, kMaxTransfer));
          read = ReadFile(handle_of(*file), bytes + filled, wanted, &got, nullptr) != 0;
          return filled + (read ? got : 0);
        });
    if (!read) return std::unexpected(last_error_text());
    if (got == 0) return content;
  }
}

bool file_exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  return GetFileAttributesExW(to_wide_path(path).c_str(), GetFileExInfoStandard, &attributes) != 0;
}

std::expected<void, std::string> copy_file_durably(const std::string& from, const std::string& to) {
  if (!CopyFileExW(to_wide_path(from).c_str(), to_wide_path(to).c_str(), nullptr, nullptr, nullptr,
                   0)) {
    return std::unexpected(last_error_text());
  }
  auto copy = open_file(to, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!copy) return std::unexpected(std::move(copy.error()));
  if (!FlushFileBuffers(handle_of(*copy))) return std::unexpected(last_error_text());
  if (!CloseHandle(reinterpret_cast<HANDLE>(copy->release()))) {
    return std::unexpected(last_error_text());
  }
  return {};
}

std::expected<DurableFile, std::string> DurableFile::create(std::string path) {
  auto file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (!file) return std::unexpected(std::move(file.error()));
  return DurableFile(std::move(*file), std::move(path));
}

std::expected<void, std::string> DurableFile::append(std::string_view bytes) {
  if (!write_all(handle_of(file_), bytes)) return std::unexpected(last_error_text());
  return {};
}

std::expected<void, std::string> DurableFile::flush_and_close() {
  // Without the flush a power loss soon after a save could leave both the
  // storage file and its backup torn.
  if (!FlushFileBuffers(handle_of(file_))) return std::unexpected(last_error_text());
  if (!CloseHandle(reinterpret_cast<HANDLE>(file_.release()))) {
    return std::unexpected(last_error_text());
  }
  return {};
}

std::expected<void, std::string> replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExW(to_wide_path(from).c_str(), to_wide_path(to).c_str(), MOVEFILE_REPLACE_EXISTING))
    return {};
  if (GetLastError() != ERROR_ACCESS_DENIED) return std::unexpected(last_error_text());
  return rename_by_handle(from, to);
}

std::expected<void, std::string> create_directories(const std::string& path) {
  const std::wstring wide = to_wide(path);
  // Roots such as "C:" cannot be created, so only the last component's
  // failure counts; the check below catches the rest.
  std::size_t end = 0;
  while (end != std::wstring::npos) {
    end = wide.find_first_of(L"\\/", end + 1);
    const std::wstring prefix = wide.substr(0, end);
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        end == std::wstring::npos) {
      return std::unexpected(path + ": " + last_error_text());
    }
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::unexpected(path + " is not a directory");
  }
  return {};
}

std::expected<void, std::string> remove_file(const std::string& path) {
  if (DeleteFileW(to_wide(path).c_str())) return {};
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
  return std::unexpected(error_text(error));
}

std::expected<std::string, std::string> absolute_path(const std::string& path) {
  const std::wstring wide = to_wide(path);
  std::wstring full(MAX_PATH, L'\0');
  while (true) {
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::unexpected(last_error_text());
    if (length < full.size()) {
      full.resize(length);
      return to_utf8_lossy(full);
    }
    full.resize(length);
  }
}

bool is_regular_file(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::expected<bool, std::string> try_lock_whole_file(const FileHandle& file,
                                                     std::chrono::microseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const auto pause = lock_retry_pause(patience);
  while (true) {
    OVERLAPPED range{};
    if (LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &range)) {
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return std::unexpected(last_error_text());
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Sleep lasts up to a timer tick, 15.6 ms by default: for a pause
    // under a millisecond, giving the processor to a ready thread lets the
    // holder on without oversleeping the patience.
    if (pause < std::chrono::milliseconds(1)) {
      SwitchToThread();
    } else {
      Sleep(
          static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(pause).count()));
    }
  }
}

bool is_on_network_drive(const std::string& path) {
  // The long form: \\?\UNC\server\share\... or \\?\C:\...
  const std::wstring wide = to_wide_path(path);
  if (wide.starts_with(L"\\\\?\\UNC\\")) return true;
  if (!wide.starts_with(L"\\\\?\\") || wide.size() < 7 || wide[5] != L':') return false;
  return GetDriveTypeW(wide.substr(4, 3).c_str()) == DRIVE_REMOTE;
}

std::expected<std::vector<std::string>, std::string> files_in_folder(const std::string& folder) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((to_wide_path(folder) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::unexpected(last_error_text());
  std::vector<std::string> names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      names.push_back(to_utf8_lossy(found.cFileName));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::ranges::sort(names);
  return names;
}

}  // namespace tolvanik::platform
