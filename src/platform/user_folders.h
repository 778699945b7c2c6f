// How people write the user's own folders on this system, so that a report
// meant to be passed on names them without the user's name in them.
#pragma once

#include <span>
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

}  // namespace tolvanik::platform
