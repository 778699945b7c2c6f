#include "messaging/json.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

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
  EXPECT_FALSE(parse_json("\"\xC0\xAF\""));          // overlong
  EXPECT_FALSE(parse_json("\"\xED\xA0\x80\""));      // surrogate
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

std::string round_trip(std::string_view text) {
  const auto document = parse_json(text);
  return document ? to_compact_json(document->root()) : "<refused>";
}

TEST(ParseJson, RefusesANulByteAnywhere) {
  using namespace std::string_literals;
  EXPECT_FALSE(parse_json("{\"type\":\"ping\"}\0"s));
  EXPECT_FALSE(parse_json("\0{}"s));
  EXPECT_FALSE(parse_json("[\"a\0b\"]"s));
  EXPECT_FALSE(parse_json("\0"s));
  // The escaped form is a character like any other.
  EXPECT_EQ(round_trip(R"(["a\u0000b"])"), R"(["a\u0000b"])");
}

TEST(ParseJson, RefusesEscapesThatAreNotWholeCharacters) {
  EXPECT_EQ(round_trip(R"(["\ud83d\ude00\u00e9"])"), "[\"\xF0\x9F\x98\x80\xC3\xA9\"]");
  EXPECT_FALSE(parse_json(R"(["\udc00"])"));
  EXPECT_FALSE(parse_json(R"(["\ud800"])"));
  EXPECT_FALSE(parse_json(R"({"\udfff":1})"));
  EXPECT_FALSE(parse_json("\"\xF0\x9F\x98\""));  // truncated four-byte sequence
  EXPECT_FALSE(parse_json("\"\xE0\x80\x80\""));  // overlong three-byte form
}

TEST(ParseJson, SortsMembersByteWiseAndKeepsTheLastOfARepeatedName) {
  EXPECT_EQ(round_trip(R"({"type":"a","b":1,"type":"b","\u00e9":2,"Z":3,"ab":4,"a":5})"),
            R"({"Z":3,"a":5,"ab":4,"b":1,"type":"b","é":2})");
  EXPECT_EQ(round_trip(R"({"k":1,"k":{"x":[1]},"k":[{"y":2,"y":3}]})"), R"({"k":[{"y":3}]})");
  const auto document = parse_json(R"({"b":1,"a":2,"c":3})");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->root().find("a")->as_unsigned(), 2u);
  EXPECT_EQ(document->root().find("c")->as_unsigned(), 3u);
  EXPECT_EQ(document->root().find("d"), nullptr);
  EXPECT_EQ(JsonValue::string("x").find("x"), nullptr);
}

TEST(ParseJson, NumbersKeepTheirKindWithFullPrecision) {
  const auto document =
      parse_json(R"([18446744073709551615,-9223372036854775808,18446744073709551616,0.1,-1,0,1.0,)"
                 R"(-9223372036854775809,2.2250738585072011e-308,1e2])");
  ASSERT_TRUE(document);
  const auto n = document->root().elements();
  EXPECT_EQ(n[0].kind(), JsonKind::kUnsigned);
  EXPECT_EQ(n[0].as_unsigned(), 18446744073709551615u);
  EXPECT_EQ(n[1].kind(), JsonKind::kSigned);
  EXPECT_EQ(n[1].as_signed(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(n[2].kind(), JsonKind::kDouble);
  EXPECT_EQ(n[2].as_double(), 18446744073709551616.0);
  EXPECT_EQ(n[3].as_double(), 0.1);
  EXPECT_EQ(n[4].kind(), JsonKind::kSigned);
  EXPECT_EQ(n[5].kind(), JsonKind::kUnsigned);
  EXPECT_EQ(n[6].kind(), JsonKind::kDouble);
  EXPECT_EQ(n[7].kind(), JsonKind::kDouble);
  EXPECT_EQ(n[8].as_double(), 2.2250738585072011e-308);
  EXPECT_EQ(to_compact_json(document->root()),
            "[18446744073709551615,-9223372036854775808,1.8446744073709552e+19,0.1,-1,0,1.0,"
            "-9.223372036854776e+18,2.225073858507201e-308,100.0]");
}

// Integers too long for 64 bits once came back with another magnitude and
// even another sign, which would have rewritten the desktop's numbers.
TEST(ParseJson, ReadsNumbersBeyondSixtyFourBitsCorrectlyRounded) {
  const auto compact = [](std::string_view text) {
    const auto document = parse_json(text);
    return document ? to_compact_json(document->root()) : std::string("refused");
  };
  EXPECT_EQ(compact("-184467440737095516159223372036854718446744073709551615"),
            "-1.844674407370955e+53");
  EXPECT_EQ(compact("184467440737095516159223372036854718446744073709551615"),
            "1.844674407370955e+53");
  EXPECT_EQ(compact("-1844674407370955161500000000000000000000000000000000000"),
            "-1.844674407370955e+54");
  EXPECT_EQ(compact("0.03720368547758046767440737195056"), "0.03720368547758047");
  EXPECT_EQ(compact("-0"), "0");
  EXPECT_EQ(compact("[1e-400,-1e-400]"), "[0.0,-0.0]");
  EXPECT_EQ(compact("1e400"), "refused");
  EXPECT_EQ(compact("-1e400"), "refused");
  EXPECT_EQ(compact("1.7976931348623157e308"), "1.7976931348623157e+308");
}

TEST(JsonArena, BuildsObjectsInNameOrderAndSurvivesAMove) {
  JsonArena arena;
  const std::string name = "Zeta";
  const JsonValue object = arena.object({{"type", arena.string("pong")},
                                         {"\xC3\xA9", JsonValue::unsigned_integer(1)},
                                         {"Z", JsonValue::signed_integer(-2)},
                                         {"type", JsonValue::boolean(true)},
                                         {"name", arena.string(name)}});
  // Enough to need further chunks, one of them larger than the usual.
  std::vector<JsonValue> many{object, arena.string(std::string(100000, 'x'))};
  for (int i = 0; i < 5000; ++i) many.push_back(arena.string(std::to_string(i)));
  const JsonValue all = arena.array(many);
  const JsonDocument document(std::move(arena), all);
  EXPECT_EQ(to_compact_json(document.root().elements()[0]),
            R"({"Z":-2,"name":"Zeta","type":true,"é":1})");
  EXPECT_EQ(document.root().elements()[1].as_string().size(), 100000u);
  EXPECT_EQ(to_compact_json(document.root().elements()[5001]), R"("4999")");
}

// One byte at a time, the plain way.
std::string reference_string_text(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

TEST(JsonWriter, EscapesExactlyTheBytesThatNeedItWhereverTheyStand) {
  // Every byte that needs escaping and its neighbours in value, at every
  // position of strings shorter, as long as and longer than whole words.
  const std::string bytes = std::string("\"\\\b\f\n\r\t\x01\x1f !#[]\x7f\x80\xff") + '\0';
  for (const std::size_t length : {1, 7, 8, 9, 16, 17, 23}) {
    for (std::size_t at = 0; at < length; ++at) {
      for (const char c : bytes) {
        std::string text(length, 'a');
        text[at] = c;
        text[length - 1 - at] = c;
        EXPECT_EQ(to_compact_json(JsonValue::string(text)), reference_string_text(text))
            << "length " << length << ", byte " << static_cast<int>(c) << " at " << at;
      }
    }
  }
}

// Takes pieces until the `refuse_at`th, which it refuses.
class CollectingSink final : public JsonSink {
 public:
  explicit CollectingSink(std::size_t refuse_at = 0) : refuse_at_(refuse_at) {}
  bool take(std::string_view piece) override {
    EXPECT_FALSE(piece.empty());
    pieces.emplace_back(piece);
    return pieces.size() != refuse_at_;
  }
  std::vector<std::string> pieces;

 private:
  std::size_t refuse_at_;
};

TEST(JsonWriter, PiecesMakeTheWholeTextAndStopAtTheFirstThatFails) {
  // Strings longer than a piece, for which the buffer must grow, and many
  // small values between them.
  JsonArena arena;
  std::vector<JsonValue> elements;
  for (int i = 0; i < 20000; ++i) {
    elements.push_back(i % 1000 == 0 ? arena.string(std::string(300000 + i, 'x'))
                                     : JsonValue::signed_integer(-i));
  }
  const JsonValue document = arena.object({{"all", arena.array(elements)}});
  const std::string whole = to_pretty_json(document);

  constexpr std::size_t kPieceBytes = 64 * 1024;
  std::string buffer(kPieceBytes, '\0');
  CollectingSink sink;
  EXPECT_TRUE(write_pretty_json(document, buffer, sink));
  std::string joined;
  for (const std::string& piece : sink.pieces) joined += piece;
  EXPECT_EQ(joined, whole);
  EXPECT_GT(sink.pieces.size(), 10u);

  CollectingSink refusing(3);
  buffer.assign(kPieceBytes, '\0');
  EXPECT_FALSE(write_pretty_json(document, buffer, refusing));
  EXPECT_EQ(refusing.pieces.size(), 3u) << "no piece after the one that failed";
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
    const auto end =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
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
