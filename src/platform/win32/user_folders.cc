#include "platform/user_folders.h"

namespace tolvanik::platform {

std::span<const UserFolderVariable> user_folder_variables() {
  static constexpr UserFolderVariable kFolders[] = {
      {"LOCALAPPDATA", "%LOCALAPPDATA%"},
      {"APPDATA", "%APPDATA%"},
      {"USERPROFILE", "%USERPROFILE%"},
  };
  return kFolders;
}

}  // namespace tolvanik::platform
