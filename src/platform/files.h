// The thin file layer that the storage discipline is built on. Paths are
// UTF-8; failures carry the system's description of the error.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvanik::platform {

// An open file that is closed when the object goes away.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  std::intptr_t native() const { return native_; }
  // Gives up ownership without closing, for a caller that closes the handle
  // itself to see whether that fails.
  std::intptr_t release() { return std::exchange(native_, kInvalid); }
  bool is_open() const { return native_ != kInvalid; }

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t native_ = kInvalid;
};

// Opens `path` for writing only, creating it when missing and never
// truncating it, shared for reading, writing and deletion.
std::expected<FileHandle, std::string> open_lock_file(const std::string& path);

// Takes an exclusive lock over the whole of `file`, waiting as long as it
// takes for another holder to let go.
std::expected<void, std::string> lock_whole_file(const FileHandle& file);

// Releases the lock taken by lock_whole_file. Failure is not reported: the
// lock goes away with the handle in any case.
void unlock_whole_file(const FileHandle& file);

// Reads the whole file, opened for reading only and shared for reading,
// writing and deletion. A missing file is a failure. The string has room
// for `spare_capacity` bytes more, so that a caller can add to the text
// without moving it.
std::expected<std::string, std::string> read_whole_file(const std::string& path,
                                                        std::size_t spare_capacity = 0);

// True when the file's metadata can be read.
bool file_exists(const std::string& path);

// Copies `from` over `to`, replacing an existing `to`, and flushes the copy
// to stable storage before returning.
std::expected<void, std::string> copy_file_durably(const std::string& from, const std::string& to);

// Moves `from` onto `to`, replacing an existing `to` in one step, and makes
// the new directory entry durable.
std::expected<void, std::string> replace_file(const std::string& from, const std::string& to);

// A file written from its start and then put in place of another in one
// step, so that a reader, or a crash at any moment, finds the other file
// whole, old or new: create, append as often as needed, flush_and_close,
// rename_over. Each step fails with the system's description of the error.
class DurableFile {
 public:
  // Opens `path` for writing only, creating it when missing and truncating
  // it when present.
  static std::expected<DurableFile, std::string> create(std::string path);

  // Writes all of `bytes` after what was written before, continuing short
  // and interrupted writes.
  std::expected<void, std::string> append(std::string_view bytes);

  // Flushes what was written to stable storage and closes the file.
  std::expected<void, std::string> flush_and_close();

  // After flush_and_close: moves the file onto `target` as replace_file does.
  std::expected<void, std::string> rename_over(const std::string& target) const;

 private:
  DurableFile(FileHandle file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

  FileHandle file_;
  std::string path_;
};

// Creates or truncates `path`, writes all of `bytes` and flushes them to
// stable storage before returning.
std::expected<void, std::string> write_durable_file(const std::string& path,
                                                    std::string_view bytes);

// Creates `path` and every missing directory above it.
std::expected<void, std::string> create_directories(const std::string& path);

// Deletes the file at `path`; a missing file is no error.
std::expected<void, std::string> remove_file(const std::string& path);

// `path` made absolute against the current directory, without resolving links.
std::expected<std::string, std::string> absolute_path(const std::string& path);

// True when `path` names a regular file (or a link to one).
bool is_regular_file(const std::string& path);

// Tries for at most `patience` to take the lock that lock_whole_file takes:
// true when it was taken (let go with unlock_whole_file), false when
// another holder kept it all that time.
std::expected<bool, std::string> try_lock_whole_file(const FileHandle& file,
                                                     std::chrono::microseconds patience);

// How long try_lock_whole_file pauses between tries: a twentieth of its
// patience, so that a short patience (the log's few milliseconds) is not
// spent asleep, and no more than 20 ms, so that a long wait (the storage
// lock) costs the processor next to nothing.
std::chrono::microseconds lock_retry_pause(std::chrono::microseconds patience);

// True when `path` lies on a network drive: a UNC path or a drive the
// system reports as remote on Windows, a network file system elsewhere.
bool is_on_network_drive(const std::string& path);

// The names of the regular files in `folder`, in byte order.
std::expected<std::vector<std::string>, std::string> files_in_folder(const std::string& folder);

}  // namespace tolvanik::platform
