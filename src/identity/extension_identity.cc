#include "identity/extension_identity.h"

#include <algorithm>

namespace tolvanik {
namespace {

constexpr std::string_view kOriginScheme = "chrome-extension://";
constexpr std::size_t kExtensionIdLength = 32;

}  // namespace

bool is_valid_origin(std::string_view origin) {
  if (!origin.starts_with(kOriginScheme) || !origin.ends_with('/')) return false;
  const std::string_view id =
      origin.substr(kOriginScheme.size(), origin.size() - kOriginScheme.size() - 1);
  return id.size() == kExtensionIdLength &&
         std::ranges::all_of(id, [](char c) { return c >= 'a' && c <= 'p'; });
}

bool is_valid_addon_id(std::string_view id) {
  const auto is_hex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  if (id.size() == 38 && id.front() == '{' && id.back() == '}') {
    for (std::size_t i = 1; i < 37; ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      if (dash ? id[i] != '-' : !is_hex(id[i])) return false;
    }
    return true;
  }
  const std::size_t at = id.find('@');
  if (at == std::string_view::npos || at + 1 == id.size()) return false;
  const auto is_id_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  };
  return std::ranges::all_of(id.substr(0, at), is_id_char) &&
         std::ranges::all_of(id.substr(at + 1), is_id_char);
}

}  // namespace tolvanik
