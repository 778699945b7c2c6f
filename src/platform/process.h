// Starting helper programs and capturing what they print.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvanik::platform {

// Finds the system program `bare_name` (no directory, no extension) in the
// directory of this executable, then the system's own directories, then the
// directories of PATH. The current directory is never searched.
std::optional<std::string> find_system_program(std::string_view bare_name);

// Runs `program` with `arguments`, standard input from the null device and
// both output streams captured, until it has ended. Yields what it wrote to
// standard output; what it wrote to standard error is discarded. Only the
// capture pipes are handed to the child.
std::expected<std::string, std::string> run_and_capture(const std::string& program,
                                                        const std::vector<std::string>& arguments);

}  // namespace tolvanik::platform
