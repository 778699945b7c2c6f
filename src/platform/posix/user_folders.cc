#include "platform/user_folders.h"

namespace tolvanik::platform {

std::span<const UserFolderVariable> user_folder_variables() {
  static constexpr UserFolderVariable kFolders[] = {{"HOME", "~"}};
  return kFolders;
}

}  // namespace tolvanik::platform
