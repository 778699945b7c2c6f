#include "host_log/log_line.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "messaging/json.h"
#include "platform/utf8.h"

namespace tolvanik {

namespace {

// `value` as exactly `digits` decimal digits, leading zeros included.
void append_digits(std::uint64_t value, int digits, std::string& out) {
  char text[20];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(text, static_cast<std::size_t>(digits));
}

void append_number(std::uint64_t value, std::string& out) {
  char text[20];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// Written by hand: every line has one, and the formatting functions of the
// C library cost more than the rest of a line.
void append_utc_timestamp(std::chrono::nanoseconds since_epoch, std::string& out) {
  using namespace std::chrono;
  const sys_time<std::chrono::milliseconds> time{floor<std::chrono::milliseconds>(since_epoch)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  append_digits(static_cast<std::uint64_t>(static_cast<int>(date.year())), 4, out);
  out += '-';
  append_digits(static_cast<unsigned>(date.month()), 2, out);
  out += '-';
  append_digits(static_cast<unsigned>(date.day()), 2, out);
  out += 'T';
  append_digits(static_cast<std::uint64_t>(clock.hours().count()), 2, out);
  out += ':';
  append_digits(static_cast<std::uint64_t>(clock.minutes().count()), 2, out);
  out += ':';
  append_digits(static_cast<std::uint64_t>(clock.seconds().count()), 2, out);
  out += '.';
  append_digits(static_cast<std::uint64_t>(clock.subseconds().count()), 3, out);
  out += 'Z';
}

// A byte that JSON text takes as it is.
bool is_plain_ascii(char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\\'; }

}  // namespace

std::string utc_timestamp(std::chrono::nanoseconds since_epoch) {
  std::string text;
  append_utc_timestamp(since_epoch, text);
  return text;
}

LogLine::LogLine(std::chrono::nanoseconds now_since_epoch, std::uint32_t pid,
                 std::string_view event) {
  // Room for the longest of the usual lines, grown only for long errors.
  text_.reserve(kUsualLineBytes);
  text_ += "{\"time\":\"";
  append_utc_timestamp(now_since_epoch, text_);
  text_ += '"';
  count("pid", pid);
  this->text("event", event);
}

void LogLine::start_member(std::string_view name) {
  text_ += ",\"";
  text_ += name;
  text_ += "\":";
}

LogLine& LogLine::text(std::string_view name, std::string_view value) {
  start_member(name);
  // Most texts are the host's own words, written as they are.
  if (std::ranges::all_of(value, is_plain_ascii)) {
    text_ += '"';
    text_ += value;
    text_ += '"';
    return *this;
  }
  // System messages may name paths, which need not be UTF-8.
  if (is_valid_utf8(value)) {
    append_compact_json(JsonValue::string(value), text_);
  } else {
    append_compact_json(JsonValue::string(utf8_text_lossy(value)), text_);
  }
  return *this;
}

LogLine& LogLine::count(std::string_view name, std::uint64_t value) {
  start_member(name);
  append_number(value, text_);
  return *this;
}

LogLine& LogLine::flag(std::string_view name, bool value) {
  start_member(name);
  text_ += value ? "true" : "false";
  return *this;
}

LogLine& LogLine::milliseconds(std::string_view name, std::chrono::nanoseconds duration) {
  start_member(name);
  // To the nearest microsecond; a clock that went back counts as 0.
  const auto micros =
      static_cast<std::uint64_t>(std::max<std::int64_t>((duration.count() + 500) / 1000, 0));
  append_number(micros / 1000, text_);
  text_ += '.';
  append_digits(micros % 1000, 3, text_);
  return *this;
}

std::string LogLine::finish() const { return text_ + "}\n"; }

void LogLine::finish_into(std::string& out) const {
  out += text_;
  out += "}\n";
}

}  // namespace tolvanik
