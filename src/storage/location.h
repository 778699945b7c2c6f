// Where the desktop application keeps its storage file and the files beside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvanik {

// The extensions of the files beside the storage file, for sibling_path:
// the lock every reader and writer takes, the temporary file each new
// version is written to first, and the previous version.
inline constexpr std::string_view kLockExtension = "json.lock";
inline constexpr std::string_view kTemporaryExtension = "json.tmp";
inline constexpr std::string_view kBackupExtension = "json.bak";

// The storage file below `appdata`; with no base, a path relative to the
// current directory.
std::string storage_path_from_appdata(const std::optional<std::string>& appdata);

// The storage path computed from the environment.
std::string storage_path_from_environment();

// `storage_path` with the extension of its file name (the text after its
// last ".") replaced by `extension`.
std::string sibling_path(const std::string& storage_path, std::string_view extension);

// The path without its final component, or the path itself when it has no
// parent.
std::string parent_directory(const std::string& path);

// The final component of `path`; empty when there is none.
std::string final_component(const std::string& path);

}  // namespace tolvanik
