// Unicode's default full upper-casing, the same on every platform and in
// every locale: it comes from tables generated from the Unicode Character
// Database, not from the C library or the operating system.
#pragma once

#include <string>
#include <string_view>

namespace tolvanik {

// Appends `text` (UTF-8) upper-cased by the locale-independent full case
// mapping, in which one letter may become several ("ß" gives "SS"). Bytes that
// are not well-formed UTF-8 are appended unchanged.
void append_upper_case(std::string_view text, std::string& out);

// The Unicode version whose case mapping append_upper_case applies.
std::string_view upper_case_unicode_version();

}  // namespace tolvanik
