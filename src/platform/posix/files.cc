#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/file_faults.h"
#include "platform/posix/fd_io.h"

namespace tolvanik::platform {
namespace {

// How often a bounded wait for a lock asks again.

// The f_type of statfs for NFS, SMB, CIFS and SMB2 mounts (linux/magic.h).
constexpr unsigned long kNetworkFileSystems[] = {0x6969, 0x517B, 0xFF534D42, 0xFE534D42};

int fd_of(const FileHandle& file) { return static_cast<int>(file.native()); }

// An injected failure looks like an I/O error of the device.
bool fault_injected() {
  if (!inject_file_fault()) return false;
  errno = EIO;
  return true;
}

// A refused copy looks like a file system that cannot copy between files.
bool kernel_copy_refused() {
  const int refusal = kernel_copy_refusal();
  if (refusal == 0) return false;
  errno = refusal;
  return true;
}

std::expected<FileHandle, std::string> open_file(const std::string& path, int flags) {
  if (fault_injected()) return std::unexpected(last_error_text());
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(last_error_text());
  return FileHandle(fd);
}

// An open-file-description lock belongs to this open of the lock file
// alone, so closing any other descriptor of the same file cannot drop it.
int set_whole_file_lock(const FileHandle& file, short type, int command) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;
  return fcntl(fd_of(file), command, &range);
}

void sync_directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Copies the rest of `source` to the end of `copy` with copy_file_range;
// false with errno set when that fails.
bool copy_in_kernel(int source, int copy) {
  constexpr std::size_t kMostPerCall = std::size_t{1} << 30;
  if (kernel_copy_refused()) return false;
  while (true) {
    if (fault_injected()) return false;
    const ssize_t copied = copy_file_range(source, nullptr, copy, nullptr, kMostPerCall, 0);
    if (copied == 0) return true;
    if (copied < 0 && errno != EINTR) return false;
  }
}

// True when copy_in_kernel failed because the kernel or the file system
// does not copy between these files. Each file's position is where the
// copy stopped, so copying can go on another way.
bool kernel_cannot_copy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies the rest of `source` to `copy` piece by piece, for when the kernel
// cannot copy them itself: the copy needs no memory the size of the file.
bool copy_through_buffer(int source, int copy) {
  char chunk[64 * 1024];
  while (true) {
    const ssize_t got = fault_injected() ? -1 : read(source, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fault_injected() ||
        !write_all(copy, std::string_view(chunk, static_cast<std::size_t>(got)))) {
      return false;
    }
  }
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept
    : native_(std::exchange(other.native_, kInvalid)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (is_open()) close(static_cast<int>(native_));
    native_ = std::exchange(other.native_, kInvalid);
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (is_open()) close(static_cast<int>(native_));
}

std::expected<FileHandle, std::string> open_lock_file(const std::string& path) {
  return open_file(path, O_WRONLY | O_CREAT);
}

std::expected<void, std::string> lock_whole_file(const FileHandle& file) {
  if (fault_injected()) return std::unexpected(last_error_text());
  while (set_whole_file_lock(file, F_WRLCK, F_OFD_SETLKW) != 0) {
    if (errno != EINTR) return std::unexpected(last_error_text());
  }
  return {};
}

void unlock_whole_file(const FileHandle& file) { set_whole_file_lock(file, F_UNLCK, F_OFD_SETLK); }

std::expected<std::string, std::string> read_whole_file(const std::string& path,
                                                        std::size_t spare_capacity) {
  auto file = open_file(path, O_RDONLY);
  if (!file) return std::unexpected(std::move(file.error()));
  struct stat info {};
  if (fstat(fd_of(*file), &info) != 0) return std::unexpected(last_error_text());
  // One byte beyond the size lets the first read take the whole file and
  // the second find its end; a file that grows meanwhile is read on.
  std::string content;
  content.reserve(static_cast<std::size_t>(info.st_size) + 1 + spare_capacity);
  if (fault_injected()) return std::unexpected(last_error_text());
  while (true) {
    if (content.capacity() - content.size() <= spare_capacity) {
      content.reserve(2 * content.capacity());
    }
    const std::size_t filled = content.size();
    ssize_t got = 0;
    // Read straight into the string, without clearing the room first.
    content.resize_and_overwrite(
        content.capacity() - spare_capacity, [&](char* bytes, std::size_t size) {
          got = read(fd_of(*file), bytes + filled, size - filled);
          return filled + static_cast<std::size_t>(std::max<ssize_t>(got, 0));
        });
    if (got == 0) return content;
    if (got < 0 && errno != EINTR) return std::unexpected(last_error_text());
  }
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::expected<void, std::string> copy_file_durably(const std::string& from, const std::string& to) {
  auto source = open_file(from, O_RDONLY);
  if (!source) return std::unexpected(std::move(source.error()));
  auto copy = open_file(to, O_WRONLY | O_CREAT | O_TRUNC);
  if (!copy) return std::unexpected(std::move(copy.error()));
  // Inside the kernel: the bytes are copied once, from page to page, rather
  // than read out and written back, and the copy is one write to the file
  // where a copy through a buffer was dozens of them.
  if (!copy_in_kernel(fd_of(*source), fd_of(*copy)) &&
      (!kernel_cannot_copy(errno) || !copy_through_buffer(fd_of(*source), fd_of(*copy)))) {
    return std::unexpected(last_error_text());
  }
  if (fault_injected() || fsync(fd_of(*copy)) != 0) return std::unexpected(last_error_text());
  if (close(static_cast<int>(copy->release())) != 0) return std::unexpected(last_error_text());
  return {};
}

std::expected<DurableFile, std::string> DurableFile::create(std::string path) {
  auto file = open_file(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!file) return std::unexpected(std::move(file.error()));
  return DurableFile(std::move(*file), std::move(path));
}

std::expected<void, std::string> DurableFile::append(std::string_view bytes) {
  if (fault_injected() || !write_all(fd_of(file_), bytes)) {
    return std::unexpected(last_error_text());
  }
  return {};
}

std::expected<void, std::string> DurableFile::flush_and_close() {
  if (fault_injected() || fsync(fd_of(file_)) != 0) return std::unexpected(last_error_text());
  if (close(static_cast<int>(file_.release())) != 0) return std::unexpected(last_error_text());
  return {};
}

std::expected<void, std::string> replace_file(const std::string& from, const std::string& to) {
  if (fault_injected()) return std::unexpected(last_error_text());
  if (rename(from.c_str(), to.c_str()) != 0) return std::unexpected(last_error_text());
  sync_directory_of(to);
  return {};
}

std::expected<void, std::string> create_directories(const std::string& path) {
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    const std::string prefix = path.substr(0, end);
    if (prefix.empty() || mkdir(prefix.c_str(), 0755) == 0 || errno == EEXIST) continue;
    return std::unexpected(prefix + ": " + last_error_text());
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return std::unexpected(path + " is not a directory");
  }
  return {};
}

std::expected<void, std::string> remove_file(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return std::unexpected(last_error_text());
}

std::expected<std::string, std::string> absolute_path(const std::string& path) {
  if (path.starts_with('/')) return path;
  std::string directory(4096, '\0');
  if (getcwd(directory.data(), directory.size()) == nullptr) {
    return std::unexpected(last_error_text());
  }
  directory.resize(directory.find('\0'));
  return directory + (directory.ends_with('/') ? "" : "/") + path;
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::expected<bool, std::string> try_lock_whole_file(const FileHandle& file,
                                                     std::chrono::microseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const auto pause = lock_retry_pause(patience);
  while (set_whole_file_lock(file, F_WRLCK, F_OFD_SETLK) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
      return std::unexpected(last_error_text());
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(pause, deadline - now));
  }
  return true;
}

bool is_on_network_drive(const std::string& path) {
  struct statfs info {};
  if (statfs(path.c_str(), &info) != 0) return false;
  return std::ranges::find(kNetworkFileSystems, static_cast<unsigned long>(info.f_type)) !=
         std::end(kNetworkFileSystems);
}

std::expected<std::vector<std::string>, std::string> files_in_folder(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return std::unexpected(last_error_text());
  std::vector<std::string> names;
  while (const dirent* item = readdir(listing)) {
    if (is_regular_file(folder + "/" + item->d_name)) names.emplace_back(item->d_name);
  }
  closedir(listing);
  std::ranges::sort(names);
  return names;
}

}  // namespace tolvanik::platform
