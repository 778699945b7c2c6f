// Checks the generated tables against ICU's root-locale full upper-casing,
// code point by code point.
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/uversion.h>

#include <string>
#include <vector>

#include "templates/upper_case.h"

namespace tolvanik {
namespace {

bool is_newer(const UVersionInfo a, const UVersionInfo b) {
  for (int i = 0; i < U_MAX_VERSION_LENGTH; ++i) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return false;
}

std::string icu_upper_utf8(UChar32 code_point) {
  UChar source[2];
  int32_t source_length = 0;
  U16_APPEND_UNSAFE(source, source_length, code_point);
  UChar upper[8];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t upper_length = u_strToUpper(upper, 8, source, source_length, "", &status);
  EXPECT_TRUE(U_SUCCESS(status)) << code_point;
  char utf8[32];
  int32_t utf8_length = 0;
  u_strToUTF8(utf8, sizeof utf8, &utf8_length, upper, upper_length, &status);
  EXPECT_TRUE(U_SUCCESS(status)) << code_point;
  return std::string(utf8, utf8_length);
}

std::string utf8_of(UChar32 code_point) {
  char utf8[4];
  int32_t length = 0;
  U8_APPEND_UNSAFE(utf8, length, code_point);
  return std::string(utf8, length);
}

TEST(UpperCaseIcu, MatchesIcuRootFullUpperCasingForEveryAssignedCodePoint) {
  const std::string_view table_version = upper_case_unicode_version();
  UVersionInfo table{};
  u_versionFromString(table, std::string(table_version).c_str());
  UVersionInfo icu{};
  u_getUnicodeVersion(icu);
  RecordProperty("table_unicode", std::string(table_version));
  RecordProperty("icu_unicode", U_UNICODE_VERSION);

  std::vector<std::string> mismatches;
  int compared = 0;
  for (UChar32 code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (U_IS_SURROGATE(code_point)) continue;
    UVersionInfo age;
    u_charAge(code_point, age);
    // Compare only code points that both Unicode versions have assigned.
    if (age[0] == 0 || is_newer(age, table)) continue;
    ++compared;
    const std::string source = utf8_of(code_point);
    std::string ours;
    append_upper_case(source, ours);
    if (ours != icu_upper_utf8(code_point) && mismatches.size() < 20) {
      mismatches.push_back(std::to_string(code_point));
    }
  }
  EXPECT_GT(compared, 140000);
  EXPECT_TRUE(mismatches.empty()) << "first mismatching code points: "
                                  << testing::PrintToString(mismatches);
}

}  // namespace
}  // namespace tolvanik
