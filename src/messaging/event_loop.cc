#include "messaging/event_loop.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "messaging/dispatch.h"
#include "messaging/event_channel.h"
#include "messaging/framing.h"
#include "platform/clock.h"
#include "platform/std_streams.h"
#include "platform/utf8.h"
#include "probes/storage_watcher.h"
#include "storage/location.h"

namespace tolvanik {
namespace {

constexpr int kSpawnFailureStatus = 101;

template <typename Body>
void spawn_detached(Body body, HostLog& log) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "tolvanik_host: failed to spawn thread: %s\n",
                 error.code().message().c_str());
    std::fflush(stderr);
    log.end("failed to spawn thread", kSpawnFailureStatus);
    platform::exit_process(kSpawnFailureStatus);
  }
}

// Frames that arrived together go to the main thread as one batch, so a
// burst of requests costs the main thread one wake-up, not one per frame.
void read_input(EventSender sender, BrowserWatch& watch) {
  FrameReader reader(platform::read_stdin_some, /*read_ahead=*/true);
  HostEvents batch;
  while (true) {
    auto message = reader.next();
    if (!message) {
      watch.note_input_ended();
      batch.emplace_back(InputClosed{message.error()});
      sender.send_batch(batch);
      return;
    }
    batch.emplace_back(IncomingMessage{std::move(*message)});
    if (reader.has_buffered_frame()) continue;
    if (!sender.send_batch(batch)) return;
  }
}

// Replies made at once are collected while further requests wait in the
// queue, and go out together in one write instead of one write each. Before
// anything that reads the storage file (a request that takes its time or a
// push, either of which may wait for the storage lock) and before waiting
// for more input, what was collected goes out: frames keep their order, and
// no reply waits behind a slow one or for input that may never come.
class ReplyOutput {
 public:
  // Yields the reply's payload size.
  std::size_t collect(const JsonDocument& reply) {
    const std::size_t before = collected_.size();
    append_frame(reply.root(), collected_);
    const std::size_t frame_bytes = collected_.size() - before;
    if (collected_.size() >= kCollectedBytes) flush();
    return frame_bytes == 0 ? 0 : frame_bytes - kLengthBytes;
  }

  void flush() {
    if (collected_.empty()) return;
    platform::write_stdout_all(collected_);
    collected_.clear();
  }

 private:
  static constexpr std::size_t kCollectedBytes = 64 * 1024;
  static constexpr std::size_t kLengthBytes = 4;

  std::string collected_;
};

// A reply made at once waits to go out with others; any other goes out at
// once, after those collected. True when the command wrote the storage.
bool answer_incoming(const std::string& storage_path, const JsonDocument& request,
                     ReplyOutput& output, HostLog& log, BrowserWatch& watch) {
  const auto started = log.clock();
  const Command& command = find_command(request_type(request.root()));
  const bool at_once = command.reach == CommandReach::kNothing;
  // Nor does a log line wait behind a slow request.
  if (!at_once) {
    output.flush();
    log.flush();
  }
  const CommandAnswer answer = command.answer(storage_path, request, &watch);
  const std::size_t bytes_out = at_once ? output.collect(answer.reply) : send_message(answer.reply);
  log_request(log, request, answer, bytes_out, started);
  return command.reach == CommandReach::kWritesStorage;
}

void start_workers(const std::string& storage_path, EventSender sender, HostLog& log,
                   BrowserWatch& watch) {
  watch.input_read_elsewhere();
  spawn_detached(
      [input_sender = sender, &watch]() mutable { read_input(std::move(input_sender), watch); },
      log);
  spawn_detached(
      [watcher_sender = std::move(sender),
       file_name = utf8_text_lossy(final_component(storage_path)),
       directory = parent_directory(storage_path)]() mutable {
        storage_watcher_main(std::move(watcher_sender), std::move(file_name), std::move(directory));
      },
      log);
}

}  // namespace

bool storage_change_pushed(std::chrono::nanoseconds last_host_write, std::chrono::nanoseconds now) {
  return now - last_host_write > kQuietAfterHostWrite;
}

JsonDocument colors_push(StorageSnapshot snapshot) {
  JsonArena& arena = snapshot.document.arena();
  snapshot.document.set_root(
      arena.object({{"activeTemplateId", JsonValue::string(snapshot.active_template_id)},
                    {"lastModified", JsonValue::number(snapshot.last_modified)},
                    {"templates", snapshot.templates},
                    {"type", JsonValue::string("colors")}}));
  return std::move(snapshot.document);
}

// A snapshot that could not be read says nothing about the desktop's
// templates; pushed, it would tell the extension they are all gone. The
// desktop's next save brings the next push.
void push_snapshot(const std::string& storage_path, ReplyOutput& output, HostLog& log,
                   BrowserWatch& watch) {
  output.flush();
  log.flush();
  StorageSnapshot snapshot = read_storage_snapshot(storage_path, &watch);
  log.storage_met(snapshot.facts);
  if (!snapshot.unreadable) log.push(send_message(colors_push(std::move(snapshot))));
}

void run_event_loop(const std::string& storage_path, HostLog& log, BrowserWatch& watch) {
  auto [sender, receiver] = make_event_channel();
  start_workers(storage_path, std::move(sender), log, watch);
  auto last_host_write = platform::monotonic_now();
  HostEvents events;
  ReplyOutput output;
  while (receiver.receive_all(events)) {
    const HostLog::Collecting collecting(log);
    // Each event goes as soon as it is handled: under a flood, the memory of
    // the messages answered is what the reader fills with the next ones.
    for (; !events.empty(); events.pop_front()) {
      HostEvent& event = events.front();
      if (auto* incoming = std::get_if<IncomingMessage>(&event)) {
        if (answer_incoming(storage_path, incoming->message, output, log, watch)) {
          last_host_write = platform::monotonic_now();
        }
      } else if (std::holds_alternative<StorageChanged>(event)) {
        const auto now = platform::monotonic_now();
        if (storage_change_pushed(last_host_write, now)) {
          push_snapshot(storage_path, output, log, watch);
        } else {
          log.change_dropped(now - last_host_write);
        }
      } else if (const auto* watch = std::get_if<WatchEnded>(&event)) {
        log.watcher_failed(watch->why);
      } else {
        output.flush();
        log_input_end(log, std::get<InputClosed>(event).end);
        return;
      }
    }
    output.flush();
  }
}

}  // namespace tolvanik
