#include "host_log/host_log.h"

#include <memory>
#include <string>
#include <utility>

#include "host_log/log_file_writer.h"
#include "host_log/setting.h"
#include "platform/clock.h"
#include "platform/log_file.h"

namespace tolvanik {
namespace {

// `lines` with the count of lines dropped before them added to the first,
// whose closing brace ends just before its line feed.
std::string with_dropped_count(std::string_view lines, std::size_t dropped) {
  const std::size_t brace = lines.find('\n') - 1;
  std::string counted;
  counted.reserve(lines.size() + 32);
  counted.append(lines.substr(0, brace))
      .append(",\"dropped\":")
      .append(std::to_string(dropped))
      .append(lines.substr(brace));
  return counted;
}

}  // namespace

HostLog::HostLog(LineSink sink) : sink_(std::move(sink)), pid_(platform::current_process_id()) {}

HostLog HostLog::open(const std::string& path) {
  if (path.empty()) return HostLog();
  auto writer = LogFileWriter::open(path);
  if (!writer) return HostLog();
  return HostLog([file = std::make_shared<LogFileWriter>(std::move(*writer))](
                     std::string_view lines) { return file->append(lines); });
}

HostLog open_host_log() {
  return log_switched_on_by() ? HostLog::open(host_log_path()) : HostLog();
}

std::chrono::nanoseconds HostLog::clock() const {
  return on() ? platform::monotonic_now() : std::chrono::nanoseconds{};
}

LogLine HostLog::line(std::string_view event) const {
  return LogLine(platform::system_time_since_epoch(), pid_, event);
}

void HostLog::write(const LogLine& line) {
  line.finish_into(collected_);
  ++collected_lines_;
  if (!collecting_ || collected_.size() >= kCollectedBytes) flush();
}

void HostLog::flush() {
  if (collected_.empty()) return;
  const bool written =
      dropped_ == 0 ? sink_(collected_) : sink_(with_dropped_count(collected_, dropped_));
  dropped_ = written ? 0 : dropped_ + collected_lines_;
  collected_.clear();
  collected_lines_ = 0;
}

void HostLog::note_size(std::string_view message_type, std::size_t bytes) {
  if (bytes <= kBrowserMessageLimit) return;
  write(line("oversize")
            .text("message", message_type)
            .count("bytes", bytes)
            .count("limit", kBrowserMessageLimit));
}

void HostLog::start(const Start& start) {
  if (!on()) return;
  LogLine started = line("start");
  started.text("version", start.version)
      .text("mode", start.event_loop ? "event loop" : "one-shot")
      .milliseconds("probeMs", start.probe_time)
      .flag("desktopRunning", start.desktop_running);
  if (start.caller) started.text("caller", *start.caller);
  write(started);
}

void HostLog::request(const Request& request) {
  if (!on()) return;
  write(line("request")
            .text("type", request.type.empty() ? "unknown" : request.type)
            .count("bytesIn", request.bytes_in)
            .text("reply", request.reply_type)
            .count("bytesOut", request.bytes_out)
            .milliseconds("ms", request.time)
            .text("outcome", request.outcome));
  note_size(request.reply_type, request.bytes_out);
}

void HostLog::storage_met(const StorageFacts& facts) {
  if (!on()) return;
  lock_waited(facts.lock_wait);
  if (facts.backup_loaded) backup_loaded();
  if (facts.update_refused) update_refused();
  for (const std::string& failure : facts.failures) storage_failure(failure);
}

void HostLog::storage_failure(std::string_view error) {
  if (on()) write(line("storageFailure").text("error", error));
}

void HostLog::backup_loaded() {
  if (on()) write(line("backupLoaded"));
}

void HostLog::update_refused() {
  if (on()) write(line("updateRefused"));
}

void HostLog::lock_waited(std::chrono::nanoseconds waited) {
  if (on() && waited >= kNotableLockWait) {
    write(line("lockWait").milliseconds("ms", waited));
  }
}

void HostLog::push(std::size_t bytes) {
  if (!on()) return;
  write(line("push").count("bytes", bytes));
  note_size("colors", bytes);
}

void HostLog::change_dropped(std::chrono::nanoseconds since_host_write) {
  if (on()) write(line("changeDropped").milliseconds("msSinceWrite", since_host_write));
}

void HostLog::watcher_failed(std::string_view error) {
  if (on()) write(line("watcherFailed").text("error", error));
}

void HostLog::browser_gone(std::string_view what, std::chrono::nanoseconds waited) {
  if (on()) write(line("browserGone").text("waitingFor", what).milliseconds("ms", waited));
}

void HostLog::wait_timed_out(std::string_view what, std::chrono::nanoseconds waited) {
  if (on()) write(line("waitTimedOut").text("waitingFor", what).milliseconds("ms", waited));
}

void HostLog::input_ended(std::string_view reason, std::optional<std::uint32_t> length) {
  if (!on()) return;
  LogLine ended = line("inputEnded");
  ended.text("reason", reason);
  if (length) ended.count("length", *length);
  write(ended);
}

void HostLog::end(std::string_view reason, int status) {
  if (!on()) return;
  write(line("end").text("reason", reason).count("status", static_cast<unsigned>(status)));
  flush();
}

}  // namespace tolvanik
