// Conversions between the UTF-8 of the seam and the UTF-16 of the wide
// system calls, and the system's description of an error code.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace tolvanik::platform {

// UTF-8 to UTF-16; ill-formed sequences become U+FFFD.
std::wstring to_wide(std::string_view utf8);

// The wide form of a file path for the file calls. The path is made
// absolute and given the \\?\ prefix, which lifts the MAX_PATH limit of
// 260 characters; a path that already names a device stays as it is.
std::wstring to_wide_path(std::string_view utf8);

// UTF-16 to UTF-8, or nothing when `wide` holds an unpaired surrogate.
std::optional<std::string> to_utf8_strict(std::wstring_view wide);

// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD.
std::string to_utf8_lossy(std::wstring_view wide);

// The system's description of `code`, without the trailing line break.
std::string error_text(DWORD code);

inline std::string last_error_text() { return error_text(GetLastError()); }

}  // namespace tolvanik::platform
