// Reading JSON text is left to RapidJSON's event reader; this is the one
// file that includes it. The events fill our own tree. Both targets are
// x86-64, which always has SSE2 for the reader's whitespace and string scans.
#define RAPIDJSON_SSE2
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "messaging/json.h"
#include "platform/utf8.h"

namespace tolvanik {
namespace {

// In place: the reader decodes each string inside the document's own copy
// of the text, which the string values then point into. Numbers come as
// their text: the reader's own conversion gets integers beyond 64 bits
// wrong, down to their sign, so they are converted here.
// The whole text is checked for UTF-8 before, which lets the reader scan
// strings with SSE2 instead of checking them character by character.
// The reader descends recursively, which is safe because the builder
// refuses a container nested deeper than kMaxJsonDepth before the reader
// goes into it.
constexpr unsigned kParseFlags =
    rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseInsituFlag;

JsonValue integer_value(std::int64_t value) {
  return value >= 0 ? JsonValue::unsigned_integer(static_cast<std::uint64_t>(value))
                    : JsonValue::signed_integer(value);
}

// A double read correctly rounded from the whole text, which the reader
// has left in place followed by a byte that cannot continue a number. A
// magnitude too large for a double is refused; one too small becomes zero.
std::optional<JsonValue> double_value(std::string_view text) {
  char* end = nullptr;
  const double value = std::strtod(text.data(), &end);
  if (end != text.data() + text.size() || std::isinf(value)) return std::nullopt;
  return JsonValue::number(value);
}

// `text` is a number the reader has checked against the JSON grammar.
// Integers keep their kind while they fit 64 bits; every other number is a
// double.
std::optional<JsonValue> number_value(std::string_view text) {
  if (text.find_first_of(".eE") == std::string_view::npos) {
    const char* end = text.data() + text.size();
    if (text.front() == '-') {
      std::int64_t value = 0;
      const auto parsed = std::from_chars(text.data(), end, value);
      if (parsed.ec == std::errc() && parsed.ptr == end) return integer_value(value);
    } else {
      std::uint64_t value = 0;
      const auto parsed = std::from_chars(text.data(), end, value);
      if (parsed.ec == std::errc() && parsed.ptr == end) return JsonValue::unsigned_integer(value);
    }
  }
  return double_value(text);
}

class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
 public:
  TreeBuilder(JsonArena& arena, bool has_unicode_escape)
      : arena_(arena), has_unicode_escape_(has_unicode_escape) {}

  bool Null() { return add(JsonValue()); }
  bool Bool(bool value) { return add(JsonValue::boolean(value)); }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    const auto value = number_value(std::string_view(text, length));
    return value && add(*value);
  }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    const auto checked = checked_string(text, length);
    return checked && add(JsonValue::string(*checked));
  }

  bool Key(const char* text, rapidjson::SizeType length, bool) {
    const auto checked = checked_string(text, length);
    if (!checked) return false;
    pending_.push_back({*checked, JsonValue()});
    return true;
  }

  bool StartObject() { return open(true); }
  bool StartArray() { return open(false); }

  bool EndObject(rapidjson::SizeType count) {
    const auto members = arena_.members(count);
    std::copy(pending_.end() - count, pending_.end(), members.begin());
    return close(count,
                 JsonValue::sorted_object(members.first(sort_members_keeping_last(members))));
  }

  bool EndArray(rapidjson::SizeType count) {
    const auto elements = arena_.values(count);
    for (std::size_t i = 0; i < count; ++i)
      elements[i] = pending_[pending_.size() - count + i].value;
    return close(count, JsonValue::array(elements));
  }

  JsonValue root() const { return root_; }

 private:
  // Escapes are decoded by the reader, which lets a lone low surrogate
  // through as the three bytes ED B0..BF xx; every other escape it decodes
  // is well-formed, and the text around escapes was checked before.
  std::optional<std::string_view> checked_string(const char* text, std::size_t length) const {
    const std::string_view view(text, length);
    if (has_unicode_escape_ && std::memchr(text, '\xED', length) != nullptr &&
        !is_valid_utf8(view)) {
      return std::nullopt;
    }
    return view;
  }

  bool open(bool object) {
    if (open_is_object_.size() == kMaxJsonDepth) return false;
    open_is_object_.push_back(object);
    return true;
  }

  bool close(std::size_t count, JsonValue container) {
    pending_.resize(pending_.size() - count);
    open_is_object_.pop_back();
    return add(container);
  }

  bool add(JsonValue value) {
    if (open_is_object_.empty()) {
      root_ = value;
    } else if (open_is_object_.back()) {
      pending_.back().value = value;
    } else {
      pending_.push_back({{}, value});
    }
    return true;
  }

  JsonArena& arena_;
  const bool has_unicode_escape_;
  // Members and elements of the containers still open, innermost last.
  std::vector<JsonMember> pending_;
  std::vector<bool> open_is_object_;
  JsonValue root_;
};

// `text` holds `size` bytes in `arena`, followed by kJsonReadingSpare bytes
// of room.
std::expected<JsonDocument, JsonRefusal> parse_held_text(JsonArena arena, char* text,
                                                         std::size_t size) {
  const std::string_view view(text, size);
  if (view.empty()) return std::unexpected(JsonRefusal::kNotJson);
  // The reader would take a NUL byte for the end of the text.
  if (view.find('\0') != std::string_view::npos) return std::unexpected(JsonRefusal::kNulByte);
  if (!is_valid_utf8(view)) return std::unexpected(JsonRefusal::kNotUtf8);
  const bool has_unicode_escape = view.find("\\u") != std::string_view::npos;
  // With no NUL byte inside, the terminator marks exactly the end of the text.
  // The reader's SSE2 scans load whole aligned 16-byte blocks, so the one
  // that holds the terminator may reach up to 15 bytes beyond it: those
  // bytes belong to the text too.
  std::memset(text + size, '\0', kJsonReadingSpare);
  TreeBuilder builder(arena, has_unicode_escape);
  rapidjson::InsituStringStream stream(text);
  rapidjson::Reader reader;
  if (reader.Parse<kParseFlags>(stream, builder).IsError()) {
    return std::unexpected(JsonRefusal::kNotJson);
  }
  return JsonDocument(std::move(arena), builder.root(), size);
}

std::optional<JsonDocument> without_reason(std::expected<JsonDocument, JsonRefusal> read) {
  if (!read) return std::nullopt;
  return std::move(*read);
}

}  // namespace

std::expected<JsonDocument, JsonRefusal> read_json_in_place(std::string text) {
  const std::size_t size = text.size();
  text.resize(size + kJsonReadingSpare);
  // The tree of a large document is about the size of its text. Taken in
  // one piece, it leaves no chunks partly used for later requests to fault
  // in, which made the heap of a running host grow a little after its first
  // request.
  JsonArena arena(size);
  char* const held = arena.adopt(std::move(text)).data();
  return parse_held_text(std::move(arena), held, size);
}

// Room for a copy of the text and a tree about its size, which holds the
// extension's small requests whole: a queue of them then costs little more
// than their text. A tree that needs more takes it in small steps.
std::size_t first_chunk_for(std::size_t text_bytes) {
  constexpr std::size_t kSmallestTree = 32;
  return text_bytes + kJsonReadingSpare + text_bytes + kSmallestTree;
}

std::expected<JsonDocument, JsonRefusal> read_json(std::string_view text) {
  if (text.empty()) return std::unexpected(JsonRefusal::kNotJson);
  JsonArena arena(first_chunk_for(text.size()));
  char* const held = arena.chars(text.size() + kJsonReadingSpare).data();
  std::memcpy(held, text.data(), text.size());
  return parse_held_text(std::move(arena), held, text.size());
}

std::optional<JsonDocument> parse_json(std::string_view text) {
  return without_reason(read_json(text));
}

std::optional<JsonDocument> parse_json_in_place(std::string text) {
  return without_reason(read_json_in_place(std::move(text)));
}

}  // namespace tolvanik
