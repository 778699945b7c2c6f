#include "platform/log_file.h"

#include <windows.h>

#include "platform/environment.h"
#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

HANDLE handle_of(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.native()); }

}  // namespace

std::optional<std::string> per_user_state_directory(std::string_view program_name) {
  const auto base = environment_variable("LOCALAPPDATA");
  if (!base || base->empty()) return std::nullopt;
  return *base + "\\" + std::string(program_name);
}

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

std::expected<FileHandle, std::string> open_for_append(const std::string& path) {
  // Append access without write access makes every write land at the end
  // of the file as it is then, whoever else appends; reading the attributes
  // gives the size. Delete sharing lets another writer rename the file
  // while this one has it open.
  const HANDLE handle =
      CreateFileW(to_wide_path(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_error_text());
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::expected<std::uint64_t, std::string> size_of_open_file(const FileHandle& file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(file), &size)) return std::unexpected(last_error_text());
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::expected<void, std::string> append_in_one_write(const FileHandle& file,
                                                     std::string_view bytes) {
  // Append access cannot shorten the file again: a write the system took
  // only in part stays as it is.
  DWORD written = 0;
  if (!WriteFile(handle_of(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 nullptr)) {
    return std::unexpected(last_error_text());
  }
  if (written != bytes.size()) return std::unexpected("the disk took part only");
  return {};
}

std::expected<void, std::string> rename_log_file(const std::string& from, const std::string& to) {
  // Moved onto a free name, the file is not written out first where the
  // file system does that for a replacement (ext4 under Wine, for one).
  (void)DeleteFileW(to_wide_path(to).c_str());
  return replace_file(from, to);
}

std::expected<FileHandle, std::string> open_log_lock(const std::string& path) {
  // Write access for the lock, the attributes for the size.
  const HANDLE handle =
      CreateFileW(to_wide_path(path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_error_text());
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::expected<void, std::string> count_roll_over(const FileHandle& lock) {
  // This offset writes at the end of the file, wherever that is then.
  OVERLAPPED at_end{};
  at_end.Offset = MAXDWORD;
  at_end.OffsetHigh = MAXDWORD;
  DWORD written = 0;
  if (!WriteFile(handle_of(lock), "+", 1, &written, &at_end) || written != 1) {
    return std::unexpected(last_error_text());
  }
  return {};
}

bool is_unlinked(const FileHandle& file) {
  FILE_STANDARD_INFO info{};
  return GetFileInformationByHandleEx(handle_of(file), FileStandardInfo, &info, sizeof info) &&
         (info.DeletePending || info.NumberOfLinks == 0);
}

}  // namespace tolvanik::platform
