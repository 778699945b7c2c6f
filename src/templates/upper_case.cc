#include "templates/upper_case.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/utf8.h"
#include "templates/upper_case_table.h"

namespace tolvanik {
namespace {

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
    const Utf8Sequence decoded = decode_utf8(text, position);
    if (!decoded.well_formed) {
      out.push_back(text[position]);
      ++position;
      continue;
    }
    if (const std::optional<char32_t> upper = single_upper(decoded.code_point)) {
      append_utf8(*upper, out);
    } else if (const upper_case_table::MultipleMapping* mapping =
                   multiple_upper(decoded.code_point)) {
      for (std::size_t i = 0; i < mapping->length; ++i) append_utf8(mapping->upper[i], out);
    } else {
      out.append(text.substr(position, decoded.length));
    }
    position += decoded.length;
  }
}

std::string_view upper_case_unicode_version() { return upper_case_table::kUnicodeVersion; }

}  // namespace tolvanik
