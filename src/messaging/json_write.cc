#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "messaging/json.h"

namespace tolvanik {
namespace {

constexpr std::array<bool, 256> kNeedsEscape = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = true;
  table['"'] = table['\\'] = true;
  return table;
}();

// True when one of the eight bytes in `word` must be escaped: a control
// character, '"' or '\\'. Most strings have no such byte at all, and a
// test of eight bytes at once lets them be copied without looking at each.
bool word_needs_escape(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  const auto has_byte_below = [](std::uint64_t v, std::uint64_t limit) {
    return (v - kOnes * limit) & ~v & kHighBits;
  };
  return (has_byte_below(word, 0x20) | has_byte_below(word ^ (kOnes * '"'), 1) |
          has_byte_below(word ^ (kOnes * '\\'), 1)) != 0;
}

// The position of the first byte at or after `from` that must be escaped,
// or the size of `text` when there is none.
std::size_t next_escape(std::string_view text, std::size_t from) {
  std::size_t at = from;
  for (std::uint64_t word = 0; at + sizeof word <= text.size(); at += sizeof word) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (word_needs_escape(word)) break;
  }
  for (; at < text.size(); ++at) {
    if (kNeedsEscape[static_cast<unsigned char>(text[at])]) return at;
  }
  return text.size();
}

// Room the writer adds to `out` at a time: as much as it has written so
// far, within these bounds. Room is cleared as it is added, so it is kept
// near what is written: a short reply clears little, and capacity reserved
// for a long text is only touched as text is written there.
constexpr std::size_t kLeastGrowthBytes = 256;
constexpr std::size_t kMostGrowthBytes = 64 * 1024;

// Writes text through a raw cursor into `out`, which is kept a little ahead
// of what was written and cut back to it at the end: a document of
// millions of small pieces pays no per-piece bookkeeping of std::string.
// With a sink, `out` is the caller's buffer: the text goes to the sink each
// time the buffer is full, instead of being kept whole in `out`.
class TextWriter {
 public:
  explicit TextWriter(std::string& out) : out_(out), start_(out.size()), sink_(nullptr) {
    out_.resize(start_ + kLeastGrowthBytes);
    cursor_ = out_.data() + start_;
  }
  TextWriter(std::string& buffer, JsonSink& sink)
      : out_(buffer), start_(0), sink_(&sink), cursor_(buffer.data()) {}
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter() { out_.resize(static_cast<std::size_t>(cursor_ - out_.data())); }

  void value(const JsonValue& value, int pretty_level);

  // Hands what is still held to the sink; false when any piece could not
  // be taken.
  bool finish() {
    hand_over();
    return pieces_taken_;
  }

 private:
  void ensure(std::size_t bytes) {
    auto used = static_cast<std::size_t>(cursor_ - out_.data());
    if (out_.size() - used >= bytes) return;
    // A full piece goes out; only text longer than a piece grows the room.
    if (sink_ != nullptr && used != start_) {
      hand_over();
      used = start_;
      if (out_.size() - used >= bytes) return;
    }
    const std::size_t growth = std::clamp(used - start_, kLeastGrowthBytes, kMostGrowthBytes);
    out_.resize(used + std::max(bytes, growth));
    cursor_ = out_.data() + used;
  }
  // After a refused piece the rest is made but no longer handed over.
  void hand_over() {
    if (sink_ == nullptr) return;
    char* const start = out_.data() + start_;
    if (pieces_taken_ && cursor_ != start) {
      pieces_taken_ = sink_->take(std::string_view(start, cursor_));
    }
    cursor_ = start;
  }
  void put(std::string_view text) {
    ensure(text.size());
    copy(text.data(), text.size());
  }
  // An empty string may have no storage at all, which memcpy must not see.
  void copy(const char* bytes, std::size_t count) {
    if (count == 0) return;
    std::memcpy(cursor_, bytes, count);
    cursor_ += count;
  }
  void put(char c) {
    ensure(1);
    *cursor_++ = c;
  }
  void newline_indent(int level) {
    const auto spaces = static_cast<std::size_t>(level) * 2;
    ensure(spaces + 1);
    *cursor_++ = '\n';
    std::memset(cursor_, ' ', spaces);
    cursor_ += spaces;
  }
  template <typename Int>
  void integer(Int value) {
    ensure(24);
    cursor_ = std::to_chars(cursor_, cursor_ + 24, value).ptr;
  }
  void string(std::string_view text);
  void array(std::span<const JsonValue> elements, int pretty_level);
  void object(std::span<const JsonMember> members, int pretty_level);

  std::string& out_;
  std::size_t start_;
  JsonSink* sink_;
  bool pieces_taken_ = true;
  char* cursor_;
};

void TextWriter::string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  ensure(text.size() + 2);
  *cursor_++ = '"';
  std::size_t run_start = 0;
  for (std::size_t i = next_escape(text, 0); i < text.size(); i = next_escape(text, run_start)) {
    const auto byte = static_cast<unsigned char>(text[i]);
    copy(text.data() + run_start, i - run_start);
    run_start = i + 1;
    // Room for this escape and the rest of the text unescaped.
    ensure(6 + (text.size() - run_start) + 1);
    *cursor_++ = '\\';
    switch (byte) {
      case '"':
      case '\\':
        *cursor_++ = static_cast<char>(byte);
        break;
      case '\b':
        *cursor_++ = 'b';
        break;
      case '\t':
        *cursor_++ = 't';
        break;
      case '\n':
        *cursor_++ = 'n';
        break;
      case '\f':
        *cursor_++ = 'f';
        break;
      case '\r':
        *cursor_++ = 'r';
        break;
      default:
        std::memcpy(cursor_, "u00", 3);
        cursor_[3] = kHex[byte >> 4];
        cursor_[4] = kHex[byte & 0xF];
        cursor_ += 5;
    }
  }
  copy(text.data() + run_start, text.size() - run_start);
  *cursor_++ = '"';
}

void TextWriter::array(std::span<const JsonValue> elements, int pretty_level) {
  const bool pretty = pretty_level >= 0;
  put('[');
  bool first = true;
  for (const JsonValue& element : elements) {
    if (!first) put(',');
    first = false;
    if (pretty) newline_indent(pretty_level + 1);
    value(element, pretty ? pretty_level + 1 : -1);
  }
  if (pretty && !elements.empty()) newline_indent(pretty_level);
  put(']');
}

void TextWriter::object(std::span<const JsonMember> members, int pretty_level) {
  const bool pretty = pretty_level >= 0;
  put('{');
  bool first = true;
  for (const auto& [name, member] : members) {
    if (!first) put(',');
    first = false;
    if (pretty) newline_indent(pretty_level + 1);
    string(name);
    put(pretty ? std::string_view(": ") : std::string_view(":"));
    value(member, pretty ? pretty_level + 1 : -1);
  }
  if (pretty && !members.empty()) newline_indent(pretty_level);
  put('}');
}

// `pretty_level` < 0 selects the compact layout.
void TextWriter::value(const JsonValue& value, int pretty_level) {
  switch (value.kind()) {
    case JsonKind::kNull:
      put("null");
      return;
    case JsonKind::kBoolean:
      put(value.as_boolean() ? std::string_view("true") : std::string_view("false"));
      return;
    case JsonKind::kSigned:
      integer(value.as_signed());
      return;
    case JsonKind::kUnsigned:
      integer(value.as_unsigned());
      return;
    case JsonKind::kDouble: {
      std::string text;
      append_json_double(value.as_double(), text);
      put(text);
      return;
    }
    case JsonKind::kString:
      string(value.as_string());
      return;
    case JsonKind::kArray:
      array(value.elements(), pretty_level);
      return;
    case JsonKind::kObject:
      object(value.members(), pretty_level);
      return;
  }
}

}  // namespace

void append_json_double(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0.0 || (magnitude >= 1e-5 && magnitude < 1e16);
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value,
                    plain ? std::chars_format::fixed : std::chars_format::scientific);
  const std::string_view text(buffer, result.ptr);
  if (plain) {
    out += text;
    if (text.find('.') == std::string_view::npos) out += ".0";
    return;
  }
  // The library writes at least two exponent digits ("1e+16", "1.5e-07");
  // the text rules want none that are not needed.
  const std::size_t e = text.find('e');
  out += text.substr(0, e + 2);
  std::string_view exponent = text.substr(e + 2);
  while (exponent.size() > 1 && exponent.front() == '0') exponent.remove_prefix(1);
  out += exponent;
}

void append_compact_json(const JsonValue& value, std::string& out) {
  TextWriter(out).value(value, -1);
}

void append_pretty_json(const JsonValue& value, std::string& out) {
  TextWriter(out).value(value, 0);
}

bool write_pretty_json(const JsonValue& value, std::string& buffer, JsonSink& sink) {
  TextWriter writer(buffer, sink);
  writer.value(value, 0);
  return writer.finish();
}

std::string to_compact_json(const JsonValue& value) {
  std::string out;
  append_compact_json(value, out);
  return out;
}

std::string to_pretty_json(const JsonValue& value) {
  std::string out;
  append_pretty_json(value, out);
  return out;
}

}  // namespace tolvanik
