// How people write the user's own folders on this system, so that a report
// meant to be passed on names them without the user's name in them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tolvanik::platform {

struct UserFolderVariable {
  // The environment variable that holds the folder.
  std::string_view variable;
  // How the folder is written in its place: "%APPDATA%", "~".
  std::string_view written;
};

// The user folders of this system, the innermost first, so that a path is
// written with the most specific of them.
std::span<const UserFolderVariable> user_folder_variables();

// The short (8.3) form of the existing `path` where it differs from it;
// nothing on systems without short names.
std::optional<std::string> short_path_form(const std::string& path);

// The existing `path` with every component in its long form; `path` as it
// is where it does not exist or the system has no short names.
std::string long_path_form(const std::string& path);

}  // namespace tolvanik::platform
