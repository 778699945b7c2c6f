// What the host's log needs from the system: the per-user folder it lies
// in, the process's id, a file that several processes append to, and a
// lock that is never waited for long.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolvanik::platform {

// The folder the system's conventions give a program's per-user state,
// logs among it, for the program called `program_name` ("Tolvanik Host"):
// that name under %LOCALAPPDATA% on Windows; elsewhere under
// ${XDG_STATE_HOME:-~/.local/state}, in lower case with "-" for spaces.
// Nothing when the environment names no base for it.
std::optional<std::string> per_user_state_directory(std::string_view program_name);

// The id the system gives this process.
std::uint32_t current_process_id();

// Opens `path` for appending only, creating it when missing. Other
// processes may read it, append to it, and rename or delete it meanwhile.
std::expected<FileHandle, std::string> open_for_append(const std::string& path);

// The size in bytes of an open file.
std::expected<std::uint64_t, std::string> size_of_open_file(const FileHandle& file);

// Writes `bytes` at the end of the file in one write, so that they land
// whole and in one piece even beside other processes' appends. A write the
// system took only in part is taken back where the system allows it.
std::expected<void, std::string> append_in_one_write(const FileHandle& file,
                                                     std::string_view bytes);

// Moves `from` onto `to`, replacing an existing `to` as replace_file does
// but not in one step and without waiting for the disk: a log that rolled
// over need not survive a crash in its new place.
std::expected<void, std::string> rename_log_file(const std::string& from, const std::string& to);

// Opens the lock file that the log's writers take turns through, creating
// it when missing, shared as open_lock_file shares it. Its size counts the
// log's roll-overs: each adds a byte (count_roll_over), and a writer that
// finds the size changed knows that its open log file was moved aside.
std::expected<FileHandle, std::string> open_log_lock(const std::string& path);
std::expected<void, std::string> count_roll_over(const FileHandle& lock);

// True when the open `file` no longer has a name: deleted by another
// process (a person clearing the log) while this one kept it open.
bool is_unlinked(const FileHandle& file);

}  // namespace tolvanik::platform
