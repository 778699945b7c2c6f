// UTF-8 checks shared by the implementations of the platform layer.
#pragma once

#include <string_view>

namespace tolvanik::platform {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

}  // namespace tolvanik::platform
