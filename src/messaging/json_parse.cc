// Reading JSON text is left to RapidJSON's event reader; this is the one
// file that includes it. The events fill our own tree.
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstring>
#include <limits>
#include <vector>

#include "messaging/json.h"
#include "platform/utf8.h"

namespace tolvanik {
namespace {

constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseFullPrecisionFlag |
                                 rapidjson::kParseValidateEncodingFlag;

class TreeBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TreeBuilder> {
 public:
  explicit TreeBuilder(JsonArena& arena) : arena_(arena) {}

  bool Null() { return add(JsonValue()); }
  bool Bool(bool value) { return add(JsonValue::boolean(value)); }
  bool Int(int value) { return add_integer(value); }
  bool Int64(std::int64_t value) { return add_integer(value); }
  bool Uint(unsigned value) { return add(JsonValue::unsigned_integer(value)); }
  bool Uint64(std::uint64_t value) { return add(JsonValue::unsigned_integer(value)); }
  bool Double(double value) { return add(JsonValue::number(value)); }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    const auto copied = copy_checked(text, length);
    return copied && add(JsonValue::string(*copied));
  }

  bool Key(const char* text, rapidjson::SizeType length, bool) {
    const auto copied = copy_checked(text, length);
    if (!copied) return false;
    pending_.push_back({*copied, JsonValue()});
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
  // through as the three bytes ED B0..BF xx; every other ill-formed
  // sequence it refuses itself.
  std::optional<std::string_view> copy_checked(const char* text, std::size_t length) {
    const std::string_view view(text, length);
    if (std::memchr(text, '\xED', length) != nullptr && !is_valid_utf8(view)) return std::nullopt;
    return arena_.copy(view);
  }

  bool add_integer(std::int64_t value) {
    return add(value >= 0 ? JsonValue::unsigned_integer(static_cast<std::uint64_t>(value))
                          : JsonValue::signed_integer(value));
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
  // Members and elements of the containers still open, innermost last.
  std::vector<JsonMember> pending_;
  std::vector<bool> open_is_object_;
  JsonValue root_;
};

}  // namespace

std::optional<JsonDocument> parse_json(std::string_view text) {
  // The reader would take a NUL byte for the end of the text.
  if (text.empty() || std::memchr(text.data(), '\0', text.size()) != nullptr) return std::nullopt;
  JsonArena arena;
  TreeBuilder builder(arena);
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  if (reader.Parse<kParseFlags>(stream, builder).IsError()) return std::nullopt;
  return JsonDocument(std::move(arena), builder.root(), text.size());
}

}  // namespace tolvanik
