#include "platform/user_folders.h"

namespace tolvanik::platform {

std::span<const UserFolderVariable> user_folder_variables() {
  static constexpr UserFolderVariable kFolders[] = {{"HOME", "~"}};
  return kFolders;
}

std::optional<std::string> short_path_form(const std::string&) { return std::nullopt; }

std::string long_path_form(const std::string& path) { return path; }

}  // namespace tolvanik::platform
