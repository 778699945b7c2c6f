// One line of the host's log: a JSON object on a line of its own that
// starts with the time, the process id and the event's name.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvanik {

// The UTC time `since_epoch` after the Unix epoch in ISO 8601 with
// milliseconds: "2024-12-07T19:33:20.123Z".
std::string utc_timestamp(std::chrono::nanoseconds since_epoch);

class LogLine {
 public:
  LogLine(std::chrono::nanoseconds now_since_epoch, std::uint32_t pid, std::string_view event);

  // Each adds one member; `name` is written as it is and must need no escape.
  LogLine& text(std::string_view name, std::string_view value);
  LogLine& count(std::string_view name, std::uint64_t value);
  LogLine& flag(std::string_view name, bool value);
  // In milliseconds, to the microsecond.
  LogLine& milliseconds(std::string_view name, std::chrono::nanoseconds duration);

  // The whole line, ending in a line feed.
  std::string finish() const;
  // The same, appended to `out`.
  void finish_into(std::string& out) const;

 private:
  static constexpr std::size_t kUsualLineBytes = 256;

  void start_member(std::string_view name);

  std::string text_;
};

}  // namespace tolvanik
