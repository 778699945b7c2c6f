#include "host_log/log_line.h"

#include <cstdio>

#include "messaging/json.h"
#include "platform/utf8.h"

namespace tolvanik {

std::string utc_timestamp(std::chrono::nanoseconds since_epoch) {
  using namespace std::chrono;
  const sys_time<std::chrono::milliseconds> time{floor<std::chrono::milliseconds>(since_epoch)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

LogLine::LogLine(std::chrono::nanoseconds now_since_epoch, std::uint32_t pid,
                 std::string_view event) {
  text_ = "{\"time\":\"" + utc_timestamp(now_since_epoch) + "\"";
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
  // System messages may name paths, which need not be UTF-8.
  append_compact_json(JsonValue::string(utf8_text_lossy(value)), text_);
  return *this;
}

LogLine& LogLine::count(std::string_view name, std::uint64_t value) {
  start_member(name);
  text_ += std::to_string(value);
  return *this;
}

LogLine& LogLine::flag(std::string_view name, bool value) {
  start_member(name);
  text_ += value ? "true" : "false";
  return *this;
}

LogLine& LogLine::milliseconds(std::string_view name, std::chrono::nanoseconds duration) {
  start_member(name);
  char number[32];
  std::snprintf(number, sizeof number, "%.3f", static_cast<double>(duration.count()) / 1e6);
  text_ += number;
  return *this;
}

std::string LogLine::finish() const { return text_ + "}\n"; }

}  // namespace tolvanik
