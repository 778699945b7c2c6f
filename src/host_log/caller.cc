#include "host_log/caller.h"

#include "identity/extension_identity.h"

namespace tolvanik {
std::optional<std::string_view> caller_from_arguments(std::span<char* const> arguments) {
  for (const char* argument : arguments) {
    const std::string_view text = argument;
    if (text == kCheckCallerArgument || is_valid_origin(text) || is_valid_addon_id(text)) {
      return text;
    }
  }
  return std::nullopt;
}

}  // namespace tolvanik
