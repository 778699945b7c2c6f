// UTF-8 decoding and encoding, shared by every part of the host that checks,
// repairs or transforms text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvanik {

struct Utf8Sequence {
  char32_t code_point = 0;
  // Bytes taken: the whole character, or the ill-formed prefix that one
  // replacement character stands for (at least 1).
  std::size_t length = 1;
  bool well_formed = false;
};

// The sequence that starts at `at` (which must be inside `text`). Overlong
// forms, surrogates and values above U+10FFFF are ill-formed.
Utf8Sequence decode_utf8(std::string_view text, std::size_t at);

void append_utf8(char32_t code_point, std::string& out);

bool is_valid_utf8(std::string_view text);

// `bytes` as UTF-8 text: each ill-formed sequence (its longest prefix that
// could still have begun a character) becomes one U+FFFD.
std::string utf8_text_lossy(std::string_view bytes);

}  // namespace tolvanik
