// The queue on which the worker threads feed the main thread in the
// event-loop mode.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "messaging/framing.h"
#include "messaging/json.h"

namespace tolvanik {

// A frame read from standard input, whatever JSON value it carried.
struct IncomingMessage {
  JsonDocument message;
};

// The storage file was seen changing on disk.
struct StorageChanged {};

// Standard input has no further message.
struct InputClosed {
  InputEnd end;
};

// The storage watcher has stopped, or could not start, and says why.
struct WatchEnded {
  std::string why;
};

using HostEvent = std::variant<IncomingMessage, StorageChanged, InputClosed, WatchEnded>;

// Events in the order sent. A deque grows and drains a block at a time, so
// a deep queue of small messages holds little besides the messages, and the
// memory of one handled can serve the next one read.
using HostEvents = std::deque<HostEvent>;

struct EventChannelState;

// A sending end. Copies are further senders; the channel reports
// disconnection once every sender is gone and the queue has been drained.
class EventSender {
 public:
  explicit EventSender(std::shared_ptr<EventChannelState> state);
  EventSender(const EventSender& other);
  EventSender(EventSender&& other) noexcept;
  EventSender& operator=(const EventSender& other);
  EventSender& operator=(EventSender&& other) noexcept;
  ~EventSender();

  // Queues `event` without blocking. False when the receiver is gone.
  bool send(HostEvent event) const;

  // Queues all of `events` in order under one lock with one wake-up of the
  // receiver. False when the receiver is gone; `events` is left empty either
  // way.
  bool send_batch(HostEvents& events) const;

 private:
  void release();

  std::shared_ptr<EventChannelState> state_;
};

// The one receiving end. Destroying it makes every later send fail.
class EventReceiver {
 public:
  explicit EventReceiver(std::shared_ptr<EventChannelState> state);
  EventReceiver(const EventReceiver&) = delete;
  EventReceiver& operator=(const EventReceiver&) = delete;
  EventReceiver(EventReceiver&&) noexcept = default;
  EventReceiver& operator=(EventReceiver&&) noexcept = default;
  ~EventReceiver();

  // Waits, without a time limit, until something is queued and then moves
  // everything queued to the end of `events`, oldest first. False, with
  // `events` untouched, when the queue is empty and no sender is left.
  bool receive_all(HostEvents& events);

 private:
  std::shared_ptr<EventChannelState> state_;
};

std::pair<EventSender, EventReceiver> make_event_channel();

}  // namespace tolvanik
