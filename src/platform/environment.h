// Environment variables and path conventions of the operating system.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvanik::platform {

// The character that joins path components.
extern const char kPathSeparator;

// True for every character the system accepts between path components.
bool is_path_separator(char c);

// The value of an environment variable as UTF-8, or nothing when the variable
// is unset or its value is not valid Unicode.
std::optional<std::string> environment_variable(std::string_view name);

// The program's arguments after its name, as UTF-8. On systems whose own
// command line is Unicode it is read from there, not from `argv`.
// Defined in the library tolvanik_arguments, which only the programs that
// read their arguments link: on Windows the split comes from the shell's
// library, which a program importing it loads, with a train of others, at
// every start.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace tolvanik::platform
