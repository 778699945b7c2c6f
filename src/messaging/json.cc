#include "messaging/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tolvanik {
namespace {

// The library has no depth limit of its own, so the nesting is measured
// before it builds anything. Brackets inside strings do not count.
bool nesting_within_limit(std::string_view text) {
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '"':
        for (++i; i < text.size() && text[i] != '"'; ++i) {
          if (text[i] == '\\') ++i;
        }
        break;
      case '[':
      case '{':
        if (++depth > kMaxJsonDepth) return false;
        break;
      case ']':
      case '}':
        --depth;
        break;
      default:
        break;
    }
  }
  return true;
}

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

[[noreturn]] void unwritable_value() {
  std::fputs("tolvanik_host: internal error: JSON value of a kind that has no text form\n", stderr);
  std::abort();
}

void append_newline_indent(int level, std::string& out) {
  out.push_back('\n');
  out.append(static_cast<std::size_t>(level) * 2, ' ');
}

// `pretty_level` < 0 selects the compact layout.
void append_json(const Json& value, int pretty_level, std::string& out) {
  const bool pretty = pretty_level >= 0;
  switch (value.type()) {
    case Json::value_t::null:
      out += "null";
      return;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      return;
    case Json::value_t::number_integer:
      append_integer(value.get<std::int64_t>(), out);
      return;
    case Json::value_t::number_unsigned:
      append_integer(value.get<std::uint64_t>(), out);
      return;
    case Json::value_t::number_float:
      append_json_double(value.get<double>(), out);
      return;
    case Json::value_t::string:
      append_escaped_string(value.get_ref<const std::string&>(), out);
      return;
    case Json::value_t::array: {
      const auto& array = value.get_ref<const Json::array_t&>();
      out.push_back('[');
      bool first = true;
      for (const auto& element : array) {
        if (!first) out.push_back(',');
        first = false;
        if (pretty) append_newline_indent(pretty_level + 1, out);
        append_json(element, pretty ? pretty_level + 1 : -1, out);
      }
      if (pretty && !array.empty()) append_newline_indent(pretty_level, out);
      out.push_back(']');
      return;
    }
    case Json::value_t::object: {
      const auto& object = value.get_ref<const Json::object_t&>();
      out.push_back('{');
      bool first = true;
      for (const auto& [name, member] : object) {
        if (!first) out.push_back(',');
        first = false;
        if (pretty) append_newline_indent(pretty_level + 1, out);
        append_escaped_string(name, out);
        out += pretty ? ": " : ":";
        append_json(member, pretty ? pretty_level + 1 : -1, out);
      }
      if (pretty && !object.empty()) append_newline_indent(pretty_level, out);
      out.push_back('}');
      return;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      unwritable_value();
  }
  unwritable_value();
}

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
  // The library skips a UTF-8 byte-order mark; the text rules refuse it.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  if (!nesting_within_limit(text)) return std::nullopt;
  Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false,
                           /*ignore_comments=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

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

void append_compact_json(const Json& value, std::string& out) { append_json(value, -1, out); }

void append_pretty_json(const Json& value, std::string& out) { append_json(value, 0, out); }

std::string to_compact_json(const Json& value) {
  std::string out;
  append_compact_json(value, out);
  return out;
}

std::string to_pretty_json(const Json& value) {
  std::string out;
  append_pretty_json(value, out);
  return out;
}

}  // namespace tolvanik
