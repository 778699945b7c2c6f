#include "platform/user_folders.h"

#include <windows.h>

#include "platform/win32/text.h"

namespace tolvanik::platform {

std::span<const UserFolderVariable> user_folder_variables() {
  static constexpr UserFolderVariable kFolders[] = {
      {"LOCALAPPDATA", "%LOCALAPPDATA%"},
      {"APPDATA", "%APPDATA%"},
      {"USERPROFILE", "%USERPROFILE%"},
  };
  return kFolders;
}

namespace {

// The path `convert` makes of `path`, or nothing where it fails.
std::optional<std::string> converted(const std::string& path,
                                     DWORD (*convert)(const wchar_t*, wchar_t*, DWORD)) {
  const std::wstring wide = to_wide(path);
  const DWORD needed = convert(wide.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring result(needed, L'\0');
  const DWORD length = convert(wide.c_str(), result.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  result.resize(length);
  return to_utf8_strict(result);
}

}  // namespace

std::optional<std::string> short_path_form(const std::string& path) {
  auto short_form = converted(path, GetShortPathNameW);
  if (!short_form || *short_form == path) return std::nullopt;
  return short_form;
}

std::string long_path_form(const std::string& path) {
  return converted(path, GetLongPathNameW).value_or(path);
}

}  // namespace tolvanik::platform
