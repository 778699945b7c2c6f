#include "messaging/json.h"

#include <charconv>
#include <cmath>

namespace tolvanik {
namespace {

bool needs_escape(char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; }

// Long stretches of text need no escape, so they are copied in one go.
void append_escaped_string(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (!needs_escape(c)) continue;
    out.append(s.substr(run_start, i - run_start));
    run_start = i + 1;
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
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\u00";
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
      }
    }
  }
  out.append(s.substr(run_start));
  out.push_back('"');
}

template <typename Int>
void append_integer(Int value, std::string& out) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_newline_indent(int level, std::string& out) {
  out.push_back('\n');
  out.append(static_cast<std::size_t>(level) * 2, ' ');
}

void append_json(const JsonValue& value, int pretty_level, std::string& out);

void append_array(std::span<const JsonValue> elements, int pretty_level, std::string& out) {
  const bool pretty = pretty_level >= 0;
  out.push_back('[');
  bool first = true;
  for (const JsonValue& element : elements) {
    if (!first) out.push_back(',');
    first = false;
    if (pretty) append_newline_indent(pretty_level + 1, out);
    append_json(element, pretty ? pretty_level + 1 : -1, out);
  }
  if (pretty && !elements.empty()) append_newline_indent(pretty_level, out);
  out.push_back(']');
}

void append_object(std::span<const JsonMember> members, int pretty_level, std::string& out) {
  const bool pretty = pretty_level >= 0;
  out.push_back('{');
  bool first = true;
  for (const auto& [name, member] : members) {
    if (!first) out.push_back(',');
    first = false;
    if (pretty) append_newline_indent(pretty_level + 1, out);
    append_escaped_string(name, out);
    out += pretty ? ": " : ":";
    append_json(member, pretty ? pretty_level + 1 : -1, out);
  }
  if (pretty && !members.empty()) append_newline_indent(pretty_level, out);
  out.push_back('}');
}

// `pretty_level` < 0 selects the compact layout.
void append_json(const JsonValue& value, int pretty_level, std::string& out) {
  switch (value.kind()) {
    case JsonKind::kNull:
      out += "null";
      return;
    case JsonKind::kBoolean:
      out += value.as_boolean() ? "true" : "false";
      return;
    case JsonKind::kSigned:
      append_integer(value.as_signed(), out);
      return;
    case JsonKind::kUnsigned:
      append_integer(value.as_unsigned(), out);
      return;
    case JsonKind::kDouble:
      append_json_double(value.as_double(), out);
      return;
    case JsonKind::kString:
      append_escaped_string(value.as_string(), out);
      return;
    case JsonKind::kArray:
      append_array(value.elements(), pretty_level, out);
      return;
    case JsonKind::kObject:
      append_object(value.members(), pretty_level, out);
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

void append_compact_json(const JsonValue& value, std::string& out) { append_json(value, -1, out); }

void append_pretty_json(const JsonValue& value, std::string& out) { append_json(value, 0, out); }

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
