#include "platform/environment.h"

#include <stdlib.h>

#include "platform/utf8.h"

namespace tolvanik::platform {

const char kPathSeparator = '/';

bool is_path_separator(char c) { return c == '/'; }

std::optional<std::string> environment_variable(std::string_view name) {
  const char* value = getenv(std::string(name).c_str());
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

}  // namespace tolvanik::platform
