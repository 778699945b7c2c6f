#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace tolvanik {
namespace {

TEST(Utf8TextLossy, ReplacesEachIllFormedSequenceWithOneReplacementCharacter) {
  EXPECT_EQ(utf8_text_lossy("storage.json"), "storage.json");
  EXPECT_EQ(utf8_text_lossy("gr\xC3\xBCn \xF0\x9F\x8E\xA8"), "gr\xC3\xBCn \xF0\x9F\x8E\xA8");
  // A lone continuation byte, a truncated three-byte sequence, an overlong
  // form, a surrogate and a byte that never occurs.
  EXPECT_EQ(utf8_text_lossy("a\x80"
                            "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf8_text_lossy("a\xE2\x82"
                            "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf8_text_lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(utf8_text_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(utf8_text_lossy("\xFF"
                            "storage.json"),
            "\xEF\xBF\xBDstorage.json");
  EXPECT_EQ(utf8_text_lossy("\xF0\x9F\x8E"), "\xEF\xBF\xBD");
}

TEST(Utf8, ValidityMatchesTheDecoderAndEncoderRoundTrips) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("gr\xC3\xBCn \xF0\x9F\x8E\xA8 \xEF\xBF\xBF"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));
  for (const char32_t code_point :
       {0x0U, 0x7FU, 0x80U, 0x7FFU, 0x800U, 0xFFFFU, 0x10000U, 0x10FFFFU}) {
    std::string text;
    append_utf8(code_point, text);
    const Utf8Sequence decoded = decode_utf8(text, 0);
    EXPECT_TRUE(decoded.well_formed);
    EXPECT_EQ(decoded.code_point, code_point);
    EXPECT_EQ(decoded.length, text.size());
  }
}

}  // namespace
}  // namespace tolvanik
