#include "platform/environment.h"

#include <windows.h>

#include "platform/win32/text.h"

namespace tolvanik::platform {

const char kPathSeparator = '\\';

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

std::optional<std::string> environment_variable(std::string_view name) {
  const std::wstring wide_name = to_wide(name);
  std::wstring value(256, L'\0');
  while (true) {
    // An empty value also yields 0; only the error code tells it from unset.
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_SUCCESS) return std::string();
      return std::nullopt;
    }
    // A value that did not fit reports the size it needs, terminator included.
    if (length < value.size()) {
      value.resize(length);
      return to_utf8_strict(value);
    }
    value.resize(length);
  }
}

}  // namespace tolvanik::platform
