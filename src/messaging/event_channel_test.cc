#include "messaging/event_channel.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace tolvanik {
namespace {

HostEvent message(int n) {
  return IncomingMessage{JsonDocument(JsonArena(), JsonValue::signed_integer(n))};
}

// The number an IncomingMessage carries, or -1 for the other kinds.
int number_of(const HostEvent& event) {
  const auto* incoming = std::get_if<IncomingMessage>(&event);
  return incoming ? static_cast<int>(incoming->message.root().as_signed()) : -1;
}

std::vector<int> numbers_of(const HostEvents& events) {
  std::vector<int> numbers;
  for (const HostEvent& event : events) numbers.push_back(number_of(event));
  return numbers;
}

TEST(EventChannel, KeepsSendingOrderAcrossSendersAndBatches) {
  auto [first, receiver] = make_event_channel();
  const EventSender second = first;
  EXPECT_TRUE(first.send(message(1)));
  HostEvents batch;
  batch.push_back(message(2));
  batch.push_back(StorageChanged{});
  batch.push_back(message(3));
  EXPECT_TRUE(second.send_batch(batch));
  EXPECT_TRUE(batch.empty());
  EXPECT_TRUE(first.send(message(4)));

  HostEvents events;
  ASSERT_TRUE(receiver.receive_all(events));
  EXPECT_EQ(numbers_of(events), (std::vector<int>{1, 2, -1, 3, 4}));
  EXPECT_TRUE(std::holds_alternative<StorageChanged>(events[2]));

  // What is received next goes after what the caller still holds.
  EXPECT_TRUE(second.send(InputClosed{}));
  ASSERT_TRUE(receiver.receive_all(events));
  ASSERT_EQ(events.size(), 6u);
  EXPECT_TRUE(std::holds_alternative<InputClosed>(events[5]));
}

TEST(EventChannel, EachConcurrentSenderKeepsItsOwnOrder) {
  constexpr int kPerSender = 2000;
  auto [sender, receiver] = make_event_channel();
  // Sender 0 sends even numbers, sender 1 odd ones, both counting up.
  std::thread threads[2];
  for (int parity = 0; parity < 2; ++parity) {
    threads[parity] = std::thread([own = sender, parity] {
      for (int i = 0; i < kPerSender; ++i) own.send(message(2 * i + parity));
    });
  }
  { const EventSender dropped = std::move(sender); }

  int next_expected[2] = {0, 1};
  HostEvents events;
  while (receiver.receive_all(events)) {
    for (const HostEvent& event : events) {
      const int n = number_of(event);
      ASSERT_EQ(n, next_expected[n % 2]);
      next_expected[n % 2] += 2;
    }
    events.clear();
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(next_expected[0], 2 * kPerSender);
  EXPECT_EQ(next_expected[1], 2 * kPerSender + 1);
}

TEST(EventChannel, ReportsDisconnectionOnlyOnceTheLastSenderIsGoneAndTheQueueIsDrained) {
  auto [sender, receiver] = make_event_channel();
  std::optional<EventSender> copy(sender);
  EXPECT_TRUE(sender.send(message(1)));
  { const EventSender moved_to = std::move(sender); }

  HostEvents events;
  ASSERT_TRUE(receiver.receive_all(events)) << "queued events outlive their sender";
  EXPECT_EQ(numbers_of(events), std::vector<int>{1});

  // The receiver is asleep when the last sender goes; that must wake it.
  std::thread releaser([&copy] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    copy.reset();
  });
  events.clear();
  EXPECT_FALSE(receiver.receive_all(events));
  EXPECT_TRUE(events.empty());
  releaser.join();
}

TEST(EventChannel, SendFailsOnceTheReceiverIsGone) {
  std::optional<EventSender> sender;
  {
    auto [made_sender, receiver] = make_event_channel();
    sender = std::move(made_sender);
    EXPECT_TRUE(sender->send(message(1)));
  }
  EXPECT_FALSE(sender->send(message(2)));
  HostEvents batch;
  batch.push_back(message(3));
  EXPECT_FALSE(sender->send_batch(batch));
  EXPECT_TRUE(batch.empty());
}

}  // namespace
}  // namespace tolvanik
