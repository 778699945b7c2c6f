#include "messaging/json.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <random>

namespace tolvanik {
namespace {

TEST(ParseJson, AcceptsOneValueWithSurroundingJsonWhitespace) {
  EXPECT_TRUE(parse_json(" \t\r\n{\"a\":1} \n"));
  EXPECT_TRUE(parse_json("[1,2]"));
  EXPECT_TRUE(parse_json("\"text\""));
  EXPECT_TRUE(parse_json("7"));
  EXPECT_FALSE(parse_json(""));
  EXPECT_FALSE(parse_json("{} {}"));
  EXPECT_FALSE(parse_json("{}x"));
  EXPECT_FALSE(parse_json("\v{}"));
  EXPECT_FALSE(parse_json("\xEF\xBB\xBF{}"));
  EXPECT_FALSE(parse_json("{\"a\":1,}"));
  EXPECT_FALSE(parse_json("// note\n{}"));
}

TEST(ParseJson, RefusesInvalidUtf8InStrings) {
  EXPECT_TRUE(parse_json("\"\xC3\xA9\""));
  EXPECT_FALSE(parse_json("\"\xC3\""));
  EXPECT_FALSE(parse_json("\"\xC0\xAF\""));        // overlong
  EXPECT_FALSE(parse_json("\"\xED\xA0\x80\""));    // surrogate
  EXPECT_FALSE(parse_json("\"\xF4\x90\x80\x80\""));  // above U+10FFFF
}

TEST(ParseJson, LimitsNestingTo127Levels) {
  const auto nested = [](int depth, char open, char close) {
    return std::string(depth, open) + std::string(depth, close);
  };
  EXPECT_TRUE(parse_json(nested(127, '[', ']')));
  EXPECT_FALSE(parse_json(nested(128, '[', ']')));
  std::string objects;
  for (int i = 0; i < 128; ++i) objects += "{\"k\":";
  objects += "1" + std::string(128, '}');
  EXPECT_FALSE(parse_json(objects));
  // Brackets inside strings are text, not nesting.
  EXPECT_TRUE(parse_json("[\"" + std::string(200, '[') + "\\\"\"]"));
}

TEST(ParseJson, LaterDuplicateMemberWinsAndNumbersKeepTheirKind) {
  const auto value = parse_json(R"({"type":"a","type":"b","u":18446744073709551615,)"
                                R"("i":-9223372036854775808,"big":18446744073709551616,"f":1.0})");
  ASSERT_TRUE(value);
  EXPECT_EQ((*value)["type"], "b");
  EXPECT_TRUE((*value)["u"].is_number_unsigned());
  EXPECT_TRUE((*value)["i"].is_number_integer());
  EXPECT_TRUE((*value)["big"].is_number_float());
  EXPECT_TRUE((*value)["f"].is_number_float());
}

TEST(CompactJson, SortsMembersByteWiseAndEscapesOnlyWhatMustBe) {
  const Json value = {{"type", "pong"}, {"message", "Hello from Windows!"}, {"\xC3\xA9", 1}, {"Z", 2}};
  EXPECT_EQ(to_compact_json(value),
            R"({"Z":2,"message":"Hello from Windows!","type":"pong","é":1})");
  const Json text = std::string("q\"b\\/\b\f\n\r\t\x01\x1F\x7F\xE2\x82\xAC", 16);
  EXPECT_EQ(to_compact_json(text), "\"q\\\"b\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7F\xE2\x82\xAC\"");
  EXPECT_EQ(to_compact_json(Json(std::string(1, '\0'))), "\"\\u0000\"");
  EXPECT_EQ(to_compact_json(Json::parse(R"([1,-2,true,false,null,[],{}])")),
            "[1,-2,true,false,null,[],{}]");
}

TEST(PrettyJson, IndentsTwoSpacesAndWritesEmptyContainersInline) {
  const auto value = parse_json(R"({"b":[1,{"c":{}}],"a":[],"ab":"x"})");
  ASSERT_TRUE(value);
  EXPECT_EQ(to_pretty_json(*value),
            "{\n  \"a\": [],\n  \"ab\": \"x\",\n  \"b\": [\n    1,\n    {\n      \"c\": {}\n"
            "    }\n  ]\n}");
  EXPECT_EQ(to_pretty_json(Json::object()), "{}");
}

std::string double_text(double value) {
  std::string out;
  append_json_double(value, out);
  return out;
}

TEST(JsonDouble, UsesExponentOnlyOutsideThePlainRange) {
  EXPECT_EQ(double_text(0.0), "0.0");
  EXPECT_EQ(double_text(-0.0), "-0.0");
  EXPECT_EQ(double_text(1.0), "1.0");
  EXPECT_EQ(double_text(1733600000123.0), "1733600000123.0");
  EXPECT_EQ(double_text(0.1), "0.1");
  EXPECT_EQ(double_text(1e-5), "0.00001");
  EXPECT_EQ(double_text(9.999999999999998e15), "9999999999999998.0");
  EXPECT_EQ(double_text(1e16), "1e+16");
  EXPECT_EQ(double_text(1.5e-7), "1.5e-7");
  EXPECT_EQ(double_text(-2.5e300), "-2.5e+300");
  EXPECT_EQ(double_text(5e-324), "5e-324");
  EXPECT_EQ(double_text(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(double_text(std::numeric_limits<double>::quiet_NaN()), "null");
}

// Any double written and read back must give the same bits, in the layout
// its magnitude calls for, with no digit more than needed.
TEST(JsonDouble, RandomValuesReadBackBitForBitInTheirLayout) {
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 200000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    const std::string text = double_text(value);
    double back = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(parsed.ptr, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e16);
    ASSERT_EQ(text.find('e') == std::string::npos, plain) << text;
    if (plain) {
      ASSERT_NE(text.find('.'), std::string::npos) << text;
    } else {
      const std::size_t e = text.find('e');
      ASSERT_TRUE(text[e + 1] == '+' || text[e + 1] == '-') << text;
      ASSERT_NE(text[e + 2], '0') << text;
    }
    char shortest[64];
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, value,
                                   std::chars_format::scientific);
    const std::string_view reference(shortest, end.ptr);
    const auto digits = [](std::string_view s) {
      std::string d;
      for (char c : s.substr(0, s.find('e'))) {
        if (c >= '0' && c <= '9') d += c;
      }
      d.erase(0, std::min(d.find_first_not_of('0'), d.size()));
      while (!d.empty() && d.back() == '0') d.pop_back();
      return d;
    };
    ASSERT_EQ(digits(text), digits(reference)) << text;
  }
}

}  // namespace
}  // namespace tolvanik
