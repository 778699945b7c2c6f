#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "platform/environment.h"
#include "platform/posix/fd_io.h"

namespace tolvanik::platform {
namespace {

int fd_of(const FileHandle& file) { return static_cast<int>(file.native()); }

// The XDG base directory rules ignore a relative path.
std::optional<std::string> state_base() {
  if (auto state = environment_variable("XDG_STATE_HOME"); state && state->starts_with('/')) {
    return state;
  }
  const auto home = environment_variable("HOME");
  if (!home || home->empty()) return std::nullopt;
  return *home + "/.local/state";
}

}  // namespace

std::optional<std::string> per_user_state_directory(std::string_view program_name) {
  auto base = state_base();
  if (!base) return std::nullopt;
  std::string folder;
  for (const char c : program_name) {
    folder += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return *base + "/" + folder;
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(getpid()); }

std::expected<FileHandle, std::string> open_for_append(const std::string& path) {
  // Only its user has any business reading what the host did.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return std::unexpected(last_error_text());
  return FileHandle(fd);
}

std::expected<std::uint64_t, std::string> size_of_open_file(const FileHandle& file) {
  struct stat info {};
  if (fstat(fd_of(file), &info) != 0) return std::unexpected(last_error_text());
  return static_cast<std::uint64_t>(info.st_size);
}

std::expected<void, std::string> append_in_one_write(const FileHandle& file,
                                                     std::string_view bytes) {
  ssize_t written = 0;
  do {
    written = write(fd_of(file), bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(bytes.size())) return {};
  std::string error = written < 0 ? last_error_text() : std::string("the disk took part only");
  // A full disk takes what fits: without its end, the part is no line.
  if (written > 0) {
    if (const auto size = size_of_open_file(file)) {
      (void)ftruncate(fd_of(file), static_cast<off_t>(*size) - written);
    }
  }
  return std::unexpected(std::move(error));
}

std::expected<void, std::string> rename_log_file(const std::string& from, const std::string& to) {
  // A rename over an existing file makes ext4 write the renamed file's data
  // out first, which takes milliseconds; onto a free name it does not.
  (void)unlink(to.c_str());
  if (rename(from.c_str(), to.c_str()) != 0) return std::unexpected(last_error_text());
  return {};
}

std::expected<FileHandle, std::string> open_log_lock(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return std::unexpected(last_error_text());
  return FileHandle(fd);
}

std::expected<void, std::string> count_roll_over(const FileHandle& lock) {
  if (!write_all(fd_of(lock), "+")) return std::unexpected(last_error_text());
  return {};
}

bool is_unlinked(const FileHandle& file) {
  struct stat info {};
  return fstat(fd_of(file), &info) == 0 && info.st_nlink == 0;
}

}  // namespace tolvanik::platform
