// The JSON values of the whole host and the text rules it reads and writes
// by. A document's nodes and strings live in one arena and go at once; the
// values themselves are small immutable views into it, so that a new
// document can share untouched parts of an old one without copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tolvanik {

enum class JsonKind : std::uint8_t {
  kNull,
  kBoolean,
  kSigned,
  kUnsigned,
  kDouble,
  kString,
  kArray,
  kObject
};

struct JsonMember;
struct JsonArenaState;

// One value. What a string, array or object refers to belongs to whoever
// built it (a JsonDocument or a JsonArena) and must outlive the view.
class JsonValue {
 public:
  constexpr JsonValue() : kind_(JsonKind::kNull), size_(0), unsigned_(0) {}

  static constexpr JsonValue boolean(bool value) {
    JsonValue v(JsonKind::kBoolean, 0);
    v.boolean_ = value;
    return v;
  }
  static constexpr JsonValue signed_integer(std::int64_t value) {
    JsonValue v(JsonKind::kSigned, 0);
    v.signed_ = value;
    return v;
  }
  static constexpr JsonValue unsigned_integer(std::uint64_t value) {
    JsonValue v(JsonKind::kUnsigned, 0);
    v.unsigned_ = value;
    return v;
  }
  static constexpr JsonValue number(double value) {
    JsonValue v(JsonKind::kDouble, 0);
    v.double_ = value;
    return v;
  }
  // Refers to `text` without copying it.
  static constexpr JsonValue string(std::string_view text) {
    JsonValue v(JsonKind::kString, static_cast<std::uint32_t>(text.size()));
    v.chars_ = text.data();
    return v;
  }
  static constexpr JsonValue array(std::span<const JsonValue> elements) {
    JsonValue v(JsonKind::kArray, static_cast<std::uint32_t>(elements.size()));
    v.elements_ = elements.data();
    return v;
  }
  // `members` must be in strictly ascending byte order of their names.
  static JsonValue sorted_object(std::span<const JsonMember> members);

  JsonKind kind() const { return kind_; }
  bool is_null() const { return kind_ == JsonKind::kNull; }
  bool is_boolean() const { return kind_ == JsonKind::kBoolean; }
  bool is_number() const {
    return kind_ == JsonKind::kSigned || kind_ == JsonKind::kUnsigned || kind_ == JsonKind::kDouble;
  }
  bool is_integer() const { return kind_ == JsonKind::kSigned || kind_ == JsonKind::kUnsigned; }
  bool is_string() const { return kind_ == JsonKind::kString; }
  bool is_array() const { return kind_ == JsonKind::kArray; }
  bool is_object() const { return kind_ == JsonKind::kObject; }

  // Each accessor expects the matching kind.
  bool as_boolean() const { return boolean_; }
  std::int64_t as_signed() const { return signed_; }
  std::uint64_t as_unsigned() const { return unsigned_; }
  // Any number, an integer converted to the nearest double.
  double as_double() const;
  std::string_view as_string() const { return {chars_, size_}; }
  std::span<const JsonValue> elements() const { return {elements_, size_}; }
  std::span<const JsonMember> members() const;

  // True for the boolean true only.
  bool is_true() const { return kind_ == JsonKind::kBoolean && boolean_; }

  // The member `name` of an object; nothing for other kinds.
  const JsonValue* find(std::string_view name) const;

 private:
  constexpr JsonValue(JsonKind kind, std::uint32_t size) : kind_(kind), size_(size), unsigned_(0) {}

  JsonKind kind_;
  std::uint32_t size_;
  union {
    bool boolean_;
    std::int64_t signed_;
    std::uint64_t unsigned_;
    double double_;
    const char* chars_;
    const JsonValue* elements_;
    const JsonMember* members_;
  };
};

struct JsonMember {
  std::string_view name;
  JsonValue value;
};

inline std::span<const JsonMember> JsonValue::members() const { return {members_, size_}; }

inline JsonValue JsonValue::sorted_object(std::span<const JsonMember> members) {
  JsonValue v(JsonKind::kObject, static_cast<std::uint32_t>(members.size()));
  v.members_ = members.data();
  return v;
}

// Memory for the nodes and strings of one document, handed out in growing
// chunks and given back all at once. The arena itself is one pointer: its
// bookkeeping lives at the front of its first chunk, so that a small
// document waiting in a queue costs one allocation near its own size.
class JsonArena {
 public:
  JsonArena() = default;
  // Makes room for `first_chunk_bytes` in the first chunk, for a document
  // whose size is about known; the chunks after it grow from there.
  explicit JsonArena(std::size_t first_chunk_bytes);
  JsonArena(JsonArena&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
  JsonArena& operator=(JsonArena&& other) noexcept;
  JsonArena(const JsonArena&) = delete;
  JsonArena& operator=(const JsonArena&) = delete;
  ~JsonArena();

  std::string_view copy(std::string_view text);
  std::span<char> chars(std::size_t count);
  // Takes `text` over without copying its bytes; they stay where they are
  // for as long as the arena lives.
  std::span<char> adopt(std::string text);
  std::span<JsonValue> values(std::size_t count);
  std::span<JsonMember> members(std::size_t count);

  JsonValue string(std::string_view text) { return JsonValue::string(copy(text)); }
  JsonValue array(std::span<const JsonValue> elements);
  // Any member order; of two members with the same name the later one stays.
  JsonValue object(std::span<const JsonMember> members);
  JsonValue object(std::initializer_list<JsonMember> members) {
    return object(std::span<const JsonMember>(members.begin(), members.size()));
  }

 private:
  void start(std::size_t first_chunk_bytes);
  void* allocate(std::size_t bytes, std::size_t alignment);
  void release();

  JsonArenaState* state_ = nullptr;
};

// Sorts `members` by name in place, keeps the last of each run of equal
// names and returns how many remain at the front.
std::size_t sort_members_keeping_last(std::span<JsonMember> members);

// A root value together with the arena that holds everything it refers to.
class JsonDocument {
 public:
  JsonDocument() = default;
  JsonDocument(JsonArena arena, JsonValue root, std::size_t text_bytes = 0)
      : arena_(std::move(arena)), root_(root), text_bytes_(text_bytes) {}

  const JsonValue& root() const { return root_; }
  // Values built from this document's parts belong here as well.
  JsonArena& arena() { return arena_; }
  void set_root(JsonValue root) { root_ = root; }
  // The length of the text the document was read from, 0 for one built in
  // memory: a fair guess at the size of text written from it.
  std::size_t text_bytes() const { return text_bytes_; }

 private:
  JsonArena arena_;
  JsonValue root_;
  std::size_t text_bytes_ = 0;
};

inline constexpr int kMaxJsonDepth = 127;

// Why a text holds no JSON value the host reads.
enum class JsonRefusal {
  kNulByte,
  kNotUtf8,
  // Empty, against the grammar, nested too deep, or a number out of range.
  kNotJson,
};

// Parses `text` as exactly one JSON value surrounded only by space, tab, line
// feed or carriage return. Refuses a byte-order mark, a NUL byte anywhere,
// text that is not valid UTF-8 (escapes included) and nesting deeper than
// kMaxJsonDepth. A member named twice keeps its later value. Non-negative
// integers that fit 64 bits are unsigned, negative ones that fit are signed,
// every other number is a double read with full precision.
std::optional<JsonDocument> parse_json(std::string_view text);

// The same, reading `text` in place: the document keeps it and decodes its
// strings where they lie. Text with kJsonReadingSpare bytes of capacity
// beyond its size is not moved.
std::optional<JsonDocument> parse_json_in_place(std::string text);

// The same two, saying why a text was refused.
std::expected<JsonDocument, JsonRefusal> read_json(std::string_view text);
std::expected<JsonDocument, JsonRefusal> read_json_in_place(std::string text);

inline constexpr std::size_t kJsonReadingSpare = 16;

// Appends the compact text of `value`: no whitespace outside strings.
void append_compact_json(const JsonValue& value, std::string& out);

// Appends the text of `value` pretty-printed with two spaces per level.
void append_pretty_json(const JsonValue& value, std::string& out);

// Takes the text a writer makes, piece by piece, as it is made.
class JsonSink {
 public:
  // False when `piece` could not be taken; the writer then hands over no
  // further piece.
  virtual bool take(std::string_view piece) = 0;

 protected:
  ~JsonSink() = default;
};

// Hands the pretty-printed text of `value` to `sink` as it is made, so that
// a large document is written out without ever being held whole. The text
// is made in `buffer`, which goes to `sink` whenever it is full and once at
// the end: its size is the size of the pieces, chosen by the caller, and it
// grows only for a single token longer than it. What it holds afterwards is
// of no use. False when a piece could not be taken.
bool write_pretty_json(const JsonValue& value, std::string& buffer, JsonSink& sink);

std::string to_compact_json(const JsonValue& value);
std::string to_pretty_json(const JsonValue& value);

// Appends the shortest text that reads back as `value`, with a fractional
// zero on integral values and an exponent only outside [1e-5, 1e16).
void append_json_double(double value, std::string& out);

}  // namespace tolvanik
