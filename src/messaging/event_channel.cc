#include "messaging/event_channel.h"

#include <condition_variable>
#include <cstddef>
#include <iterator>
#include <mutex>

namespace tolvanik {

struct EventChannelState {
  std::mutex mutex;
  std::condition_variable queued_or_disconnected;
  HostEvents queue;
  std::size_t senders = 0;
  bool receiver_alive = true;
};

EventSender::EventSender(std::shared_ptr<EventChannelState> state) : state_(std::move(state)) {
  const std::lock_guard lock(state_->mutex);
  ++state_->senders;
}

EventSender::EventSender(const EventSender& other) : EventSender(other.state_) {}

EventSender::EventSender(EventSender&& other) noexcept : state_(std::move(other.state_)) {}

EventSender& EventSender::operator=(const EventSender& other) {
  if (this != &other) *this = EventSender(other);
  return *this;
}

EventSender& EventSender::operator=(EventSender&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::move(other.state_);
  }
  return *this;
}

EventSender::~EventSender() { release(); }

void EventSender::release() {
  if (!state_) return;
  bool last = false;
  {
    const std::lock_guard lock(state_->mutex);
    last = --state_->senders == 0;
  }
  if (last) state_->queued_or_disconnected.notify_one();
  state_.reset();
}

bool EventSender::send(HostEvent event) const {
  HostEvents events;
  events.push_back(std::move(event));
  return send_batch(events);
}

bool EventSender::send_batch(HostEvents& events) const {
  {
    const std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive) {
      events.clear();
      return false;
    }
    if (state_->queue.empty()) {
      state_->queue.swap(events);
    } else {
      state_->queue.insert(state_->queue.end(), std::make_move_iterator(events.begin()),
                           std::make_move_iterator(events.end()));
    }
    events.clear();
  }
  state_->queued_or_disconnected.notify_one();
  return true;
}

EventReceiver::EventReceiver(std::shared_ptr<EventChannelState> state) : state_(std::move(state)) {}

EventReceiver::~EventReceiver() {
  if (!state_) return;
  // Events nobody will handle are dropped here rather than kept alive by a
  // sender that may never go away.
  HostEvents dropped;
  const std::lock_guard lock(state_->mutex);
  state_->receiver_alive = false;
  dropped.swap(state_->queue);
}

bool EventReceiver::receive_all(HostEvents& events) {
  std::unique_lock lock(state_->mutex);
  state_->queued_or_disconnected.wait(
      lock, [this] { return !state_->queue.empty() || state_->senders == 0; });
  if (state_->queue.empty()) return false;
  if (events.empty()) {
    events.swap(state_->queue);
  } else {
    events.insert(events.end(), std::make_move_iterator(state_->queue.begin()),
                  std::make_move_iterator(state_->queue.end()));
    state_->queue.clear();
  }
  return true;
}

std::pair<EventSender, EventReceiver> make_event_channel() {
  auto state = std::make_shared<EventChannelState>();
  EventSender sender(state);
  return {std::move(sender), EventReceiver(std::move(state))};
}

}  // namespace tolvanik
