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
void spawn_detached(Body body) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "tolvanik_host: failed to spawn thread: %s\n",
                 error.code().message().c_str());
    std::fflush(stderr);
    platform::exit_process(kSpawnFailureStatus);
  }
}

// Frames that arrived together go to the main thread as one batch, so a
// burst of requests costs the main thread one wake-up, not one per frame.
void read_input(EventSender sender) {
  FrameReader reader(platform::read_stdin_some, /*read_ahead=*/true);
  HostEvents batch;
  while (true) {
    auto message = reader.next();
    if (!message) {
      batch.emplace_back(InputClosed{});
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
  void collect(const JsonDocument& reply) {
    append_frame(reply.root(), collected_);
    if (collected_.size() >= kCollectedBytes) flush();
  }

  void flush() {
    if (collected_.empty()) return;
    platform::write_stdout_all(collected_);
    collected_.clear();
  }

 private:
  static constexpr std::size_t kCollectedBytes = 64 * 1024;

  std::string collected_;
};

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
void push_snapshot(const std::string& storage_path, ReplyOutput& output) {
  output.flush();
  StorageSnapshot snapshot = read_storage_snapshot(storage_path);
  if (!snapshot.unreadable) send_message(colors_push(std::move(snapshot)));
}

void run_event_loop(const std::string& storage_path) {
  auto [sender, receiver] = make_event_channel();
  spawn_detached([input_sender = sender]() mutable { read_input(std::move(input_sender)); });
  spawn_detached([watcher_sender = std::move(sender),
                  file_name = utf8_text_lossy(final_component(storage_path)),
                  directory = parent_directory(storage_path)]() mutable {
    storage_watcher_main(std::move(watcher_sender), std::move(file_name), std::move(directory));
  });

  auto last_host_write = platform::monotonic_now();
  HostEvents events;
  ReplyOutput output;
  while (receiver.receive_all(events)) {
    // Each event goes as soon as it is handled: under a flood, the memory of
    // the messages answered is what the reader fills with the next ones.
    for (; !events.empty(); events.pop_front()) {
      HostEvent& event = events.front();
      if (auto* incoming = std::get_if<IncomingMessage>(&event)) {
        const Command& command = find_command(request_type(incoming->message.root()));
        if (command.reach == CommandReach::kNothing) {
          output.collect(command.answer(storage_path, incoming->message));
          continue;
        }
        output.flush();
        send_message(command.answer(storage_path, incoming->message));
        if (command.reach == CommandReach::kWritesStorage) {
          last_host_write = platform::monotonic_now();
        }
      } else if (std::holds_alternative<StorageChanged>(event)) {
        if (storage_change_pushed(last_host_write, platform::monotonic_now())) {
          push_snapshot(storage_path, output);
        }
      } else {
        output.flush();
        return;
      }
    }
    output.flush();
  }
}

}  // namespace tolvanik
