// The processes of this user that run a given program, for telling how
// many hosts the browsers have left running.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace tolvanik::platform {

struct RunningPrograms {
  std::size_t count = 0;
  // How long the one running longest has run; 0 when none runs.
  std::chrono::seconds oldest{0};
};

// The processes of the current user whose program file is named
// `file_name` (letter case aside on Windows), this process excepted.
std::expected<RunningPrograms, std::string> running_programs(std::string_view file_name);

}  // namespace tolvanik::platform
