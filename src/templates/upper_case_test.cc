#include "templates/upper_case.h"

#include <gtest/gtest.h>

#include <clocale>

namespace tolvanik {
namespace {

std::string upper(std::string_view text) {
  std::string out;
  append_upper_case(text, out);
  return out;
}

TEST(UpperCase, AppliesFullMappingsWhereOneLetterBecomesSeveral) {
  EXPECT_EQ(upper("straße"), "STRASSE");
  EXPECT_EQ(upper("\uFB01"), "FI");                  // ﬁ
  EXPECT_EQ(upper("\u0149"), "\u02BCN");             // ŉ
  EXPECT_EQ(upper("\u0390"), "\u0399\u0308\u0301");  // ΐ
  EXPECT_EQ(upper("\u1F80"), "\u1F08\u0399");        // ᾀ
  EXPECT_EQ(upper("\u0131i\u0130"), "II\u0130");     // dotless ı, i, İ
  EXPECT_EQ(upper("\u03C3\u03C2\u00B5\u01C6\u01C5"), "\u03A3\u03A3\u039C\u01C4\u01C4");
  EXPECT_EQ(upper("\U00010428\U0001E922"), "\U00010400\U0001E900");  // Deseret, Adlam
  EXPECT_EQ(upper("\u0100\u0101\u0102\u0103"), "\u0100\u0100\u0102\u0102");
}

TEST(UpperCase, ChangesOnlyLowerCaseLettersOfAscii) {
  std::string all;
  for (int byte = 0; byte < 0x80; ++byte) all.push_back(static_cast<char>(byte));
  std::string expected = all;
  for (char& c : expected) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  EXPECT_EQ(upper(all), expected);
  EXPECT_EQ(upper(""), "");
}

TEST(UpperCase, PassesIllFormedBytesThrough) {
  EXPECT_EQ(upper("a\xFF"
                  "b\xC3"),
            "A\xFF"
            "B\xC3");
  EXPECT_EQ(upper("\xC0\xAF\xED\xA0\x80"), "\xC0\xAF\xED\xA0\x80");
  EXPECT_EQ(upper("\xF4\x90\x80\x80x"), "\xF4\x90\x80\x80X");
  EXPECT_EQ(upper("\xC3\xA4\xC3"), "\xC3\x84\xC3");
}

TEST(UpperCase, DoesNotDependOnTheCLocale) {
  const std::string text = "i\u0131\u00DF\u00E9z";
  const std::string before = upper(text);
  for (const char* locale : {"tr_TR.UTF-8", "Turkish_Turkey.1254", "C.UTF-8", "de_DE.UTF-8", "C"}) {
    if (std::setlocale(LC_ALL, locale) != nullptr) {
      EXPECT_EQ(upper(text), before) << locale;
    }
  }
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(before, "IISS\u00C9Z");
}

}  // namespace
}  // namespace tolvanik
