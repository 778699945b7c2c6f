// The system's description of the last failed call.
#pragma once

#include <errno.h>

#include <string>
#include <system_error>

namespace tolvanik::platform {

inline std::string last_error_text() { return std::generic_category().message(errno); }

}  // namespace tolvanik::platform
