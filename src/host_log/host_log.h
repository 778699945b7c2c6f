// The host's opt-in log: what it was asked, how it answered and what went
// wrong on the way, for whoever must find out why the extension gets
// nothing useful. It holds only facts of the host's own: message types and
// sizes, times, outcomes and the system's error texts; never a template's
// name, colours, id or hash, nor any other content of a message.
//
// Writing never changes what the host does, nor holds it up: a line that
// cannot be written at once is dropped, and the next line written carries
// the number dropped before it ("dropped"). A log that is off writes
// nothing and touches no file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host_log/log_line.h"
#include "messaging/framing.h"
#include "storage/storage_facts.h"

namespace tolvanik {

// Lock waits shorter than this are part of a normal request.
inline constexpr std::chrono::milliseconds kNotableLockWait{100};

class HostLog {
 public:
  // Takes whole lines, line feeds included; false when they could not be
  // written.
  using LineSink = std::function<bool(std::string_view lines)>;

  // Writes nothing.
  HostLog() = default;
  explicit HostLog(LineSink sink);

  // A log to the file at `path` when that can be written, else one that
  // writes nothing.
  static HostLog open(const std::string& path);

  bool on() const { return static_cast<bool>(sink_); }

  // The monotonic clock for timing what the log notes; 0 while the log is
  // off, so that nothing is timed for nobody.
  std::chrono::nanoseconds clock() const;

  struct Start {
    std::string_view version;
    bool event_loop = false;
    std::chrono::nanoseconds probe_time{};
    bool desktop_running = false;
    std::optional<std::string_view> caller;
  };
  void start(const Start& start);

  struct Request {
    // The command's type; empty for a request of any other type, whose
    // type is the extension's own text.
    std::string_view type;
    std::size_t bytes_in = 0;
    std::string_view reply_type;
    std::size_t bytes_out = 0;
    std::chrono::nanoseconds time{};
    std::string_view outcome;
  };
  // Also notes a reply over the browsers' limit.
  void request(const Request& request);

  // What a storage operation met: a notable lock wait, the backup used, an
  // update refused and every failure.
  void storage_met(const StorageFacts& facts);

  // `error` starts with the storage layer's prefix ("Write error: ").
  void storage_failure(std::string_view error);
  void backup_loaded();
  void update_refused();
  // Notes only waits of at least kNotableLockWait.
  void lock_waited(std::chrono::nanoseconds waited);

  // Also notes a push over the browsers' limit.
  void push(std::size_t bytes);
  void change_dropped(std::chrono::nanoseconds since_host_write);
  void watcher_failed(std::string_view error);

  // The browser had gone while the host waited `waited` for `what`.
  void browser_gone(std::string_view what, std::chrono::nanoseconds waited);
  // A wait for `what` was cut off after `waited`.
  void wait_timed_out(std::string_view what, std::chrono::nanoseconds waited);

  // The frame, or its absence, that ended the conversation.
  void input_ended(std::string_view reason, std::optional<std::uint32_t> length);
  // Also writes every line still collected.
  void end(std::string_view reason, int status);

  // While one lives, lines are collected and written together when it
  // ends, at flush() or once they fill kCollectedBytes: a burst of requests
  // costs the log one write, not one a line.
  class Collecting {
   public:
    explicit Collecting(HostLog& log) : log_(log) { log_.collecting_ = true; }
    Collecting(const Collecting&) = delete;
    Collecting& operator=(const Collecting&) = delete;
    ~Collecting() {
      log_.collecting_ = false;
      log_.flush();
    }

   private:
    HostLog& log_;
  };

  // Writes the lines collected so far.
  void flush();

 private:
  static constexpr std::size_t kCollectedBytes = 64 * 1024;

  LogLine line(std::string_view event) const;
  void write(const LogLine& line);
  void note_size(std::string_view message_type, std::size_t bytes);

  LineSink sink_;
  std::uint32_t pid_ = 0;
  bool collecting_ = false;
  std::string collected_;
  std::size_t collected_lines_ = 0;
  // Lines that could not be written since the last that was.
  std::size_t dropped_ = 0;
};

// The log as switched for this host: reads the switch, and only when it is
// on, where the log lies.
HostLog open_host_log();

}  // namespace tolvanik
