#include "templates/upper_case.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "templates/upper_case_table.h"

namespace tolvanik {
namespace {

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the well-formed sequence at the start of `text`, which begins with
// a byte of 0x80 or above; nullopt when that sequence is ill-formed.
std::optional<Decoded> decode_multibyte(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t code_point = 0;
  // The permitted range of the second byte excludes overlong forms,
  // surrogates and code points above U+10FFFF.
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_min = 0xA0;
    if (lead == 0xED) second_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_min = 0x90;
    if (lead == 0xF4) second_max = 0x8F;
  } else {
    return std::nullopt;
  }
  if (text.size() < length || byte(1) < second_min || byte(1) > second_max) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if (!is_continuation(byte(i))) return std::nullopt;
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  return Decoded{code_point, length};
}

void append_utf8(char32_t code_point, std::string& out) {
  const auto put = [&](std::uint32_t bits) { out.push_back(static_cast<char>(bits)); };
  if (code_point < 0x80) {
    put(code_point);
  } else if (code_point < 0x800) {
    put(0xC0 | (code_point >> 6));
    put(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    put(0xE0 | (code_point >> 12));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  } else {
    put(0xF0 | (code_point >> 18));
    put(0x80 | ((code_point >> 12) & 0x3F));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  }
}

// The single code point upper case of `code_point`, or nullopt when it has
// none of its own.
std::optional<char32_t> single_upper(char32_t code_point) {
  const auto runs = upper_case_table::kSingleRuns;
  auto next = std::upper_bound(
      runs.begin(), runs.end(), code_point,
      [](char32_t value, const upper_case_table::SingleRun& run) { return value < run.first; });
  if (next == runs.begin()) return std::nullopt;
  const upper_case_table::SingleRun& run = *std::prev(next);
  if (code_point > run.last || (code_point - run.first) % run.stride != 0) return std::nullopt;
  return static_cast<char32_t>(static_cast<std::int64_t>(code_point) + run.delta);
}

const upper_case_table::MultipleMapping* multiple_upper(char32_t code_point) {
  const auto mappings = upper_case_table::kMultipleMappings;
  auto found = std::lower_bound(mappings.begin(), mappings.end(), code_point,
                                [](const upper_case_table::MultipleMapping& mapping,
                                   char32_t value) { return mapping.code_point < value; });
  if (found == mappings.end() || found->code_point != code_point) return nullptr;
  return &*found;
}

}  // namespace

void append_upper_case(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const auto byte = static_cast<unsigned char>(text[position]);
    if (byte < 0x80) {
      out.push_back(byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 0x20) : text[position]);
      ++position;
      continue;
    }
    const std::optional<Decoded> decoded = decode_multibyte(text.substr(position));
    if (!decoded) {
      out.push_back(text[position]);
      ++position;
      continue;
    }
    if (const std::optional<char32_t> upper = single_upper(decoded->code_point)) {
      append_utf8(*upper, out);
    } else if (const upper_case_table::MultipleMapping* mapping =
                   multiple_upper(decoded->code_point)) {
      for (std::size_t i = 0; i < mapping->length; ++i) append_utf8(mapping->upper[i], out);
    } else {
      out.append(text.substr(position, decoded->length));
    }
    position += decoded->length;
  }
}

std::string_view upper_case_unicode_version() { return upper_case_table::kUnicodeVersion; }

}  // namespace tolvanik
