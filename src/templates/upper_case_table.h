// The data behind upper_case.h, generated from the Unicode Character Database
// by generate_upper_case_table.py into upper_case_table.cc.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tolvanik::upper_case_table {

// Code points first, first + stride, ... up to last map to themselves plus
// delta. Runs are sorted and do not overlap.
struct SingleRun {
  char32_t first;
  char32_t last;
  std::uint8_t stride;
  std::int32_t delta;
};

// A code point whose upper case is two or three code points.
struct MultipleMapping {
  char32_t code_point;
  std::uint8_t length;
  char32_t upper[3];
};

// Version of the Unicode Character Database the tables come from.
extern const std::string_view kUnicodeVersion;
extern const std::span<const SingleRun> kSingleRuns;
// Sorted by code point.
extern const std::span<const MultipleMapping> kMultipleMappings;

}  // namespace tolvanik::upper_case_table
