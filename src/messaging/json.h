// The JSON value type of the whole host and the text rules it reads and
// writes by. This is the only header that names the JSON library.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tolvanik {

// Objects keep their members in ascending byte order of the name, which is
// the order every text we write lists them in.
using Json = nlohmann::json;

// Parses `text` as exactly one JSON value surrounded only by space, tab, line
// feed or carriage return. Refuses a byte-order mark, invalid UTF-8 in
// strings and nesting deeper than kMaxJsonDepth. A member named twice keeps
// its later value.
std::optional<Json> parse_json(std::string_view text);

inline constexpr int kMaxJsonDepth = 127;

// Appends the compact text of `value`: no whitespace outside strings.
void append_compact_json(const Json& value, std::string& out);

// Appends the text of `value` pretty-printed with two spaces per level.
void append_pretty_json(const Json& value, std::string& out);

std::string to_compact_json(const Json& value);
std::string to_pretty_json(const Json& value);

// Appends the shortest text that reads back as `value`, with a fractional
// zero on integral values and an exponent only outside [1e-5, 1e16).
void append_json_double(double value, std::string& out);

}  // namespace tolvanik
