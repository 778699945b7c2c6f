#include <algorithm>
#include <cstring>

#include "messaging/json.h"

namespace tolvanik {
namespace {

constexpr std::size_t kLargestChunkBytes = 1 << 20;
constexpr std::size_t kLinearSearchMembers = 16;

bool name_less(const JsonMember& a, const JsonMember& b) { return a.name < b.name; }

}  // namespace

double JsonValue::as_double() const {
  switch (kind_) {
    case JsonKind::kSigned:
      return static_cast<double>(signed_);
    case JsonKind::kUnsigned:
      return static_cast<double>(unsigned_);
    default:
      return double_;
  }
}

const JsonValue* JsonValue::find(std::string_view name) const {
  if (kind_ != JsonKind::kObject) return nullptr;
  const auto all = members();
  // Most objects are small records, where comparing lengths first rules out
  // nearly every member without looking at its bytes.
  if (all.size() <= kLinearSearchMembers) {
    for (const JsonMember& member : all) {
      if (member.name.size() == name.size() && member.name == name) return &member.value;
    }
    return nullptr;
  }
  const auto found =
      std::lower_bound(all.begin(), all.end(), name,
                       [](const JsonMember& m, std::string_view n) { return m.name < n; });
  return found != all.end() && found->name == name ? &found->value : nullptr;
}

void* JsonArena::allocate(std::size_t bytes, std::size_t alignment) {
  const std::size_t padding =
      (alignment - reinterpret_cast<std::uintptr_t>(free_) % alignment) % alignment;
  if (free_bytes_ < bytes + padding) {
    // A large block gets a chunk of its own, so the current one stays in use.
    if (bytes > next_chunk_bytes_ / 2) {
      chunks_.emplace_back(new std::byte[bytes]);
      return chunks_.back().get();
    }
    chunks_.emplace_back(new std::byte[next_chunk_bytes_]);
    free_ = chunks_.back().get();
    free_bytes_ = next_chunk_bytes_;
    next_chunk_bytes_ = std::min(next_chunk_bytes_ * 2, kLargestChunkBytes);
    return allocate(bytes, alignment);
  }
  std::byte* block = free_ + padding;
  free_ = block + bytes;
  free_bytes_ -= bytes + padding;
  return block;
}

std::string_view JsonArena::copy(std::string_view text) {
  if (text.empty()) return {};
  auto* chars = static_cast<char*>(allocate(text.size(), 1));
  std::memcpy(chars, text.data(), text.size());
  return {chars, text.size()};
}

std::span<char> JsonArena::adopt(std::string text) {
  // The string is held through a pointer: moving a short string moves its
  // bytes, and the spans handed out must stay valid.
  adopted_texts_.push_back(std::make_unique<std::string>(std::move(text)));
  return *adopted_texts_.back();
}

std::span<char> JsonArena::chars(std::size_t count) {
  return {static_cast<char*>(allocate(count, 1)), count};
}

std::span<JsonValue> JsonArena::values(std::size_t count) {
  if (count == 0) return {};
  return {static_cast<JsonValue*>(allocate(count * sizeof(JsonValue), alignof(JsonValue))), count};
}

std::span<JsonMember> JsonArena::members(std::size_t count) {
  if (count == 0) return {};
  return {static_cast<JsonMember*>(allocate(count * sizeof(JsonMember), alignof(JsonMember))),
          count};
}

JsonValue JsonArena::array(std::span<const JsonValue> elements) {
  const auto copied = values(elements.size());
  std::copy(elements.begin(), elements.end(), copied.begin());
  return JsonValue::array(copied);
}

JsonValue JsonArena::object(std::span<const JsonMember> members_in_any_order) {
  const auto copied = members(members_in_any_order.size());
  std::copy(members_in_any_order.begin(), members_in_any_order.end(), copied.begin());
  return JsonValue::sorted_object(copied.first(sort_members_keeping_last(copied)));
}

std::size_t sort_members_keeping_last(std::span<JsonMember> members) {
  const auto strictly_ascending = [](const JsonMember& a, const JsonMember& b) {
    return !(a.name < b.name);
  };
  // What this host wrote is already in order, which one scan confirms.
  if (std::adjacent_find(members.begin(), members.end(), strictly_ascending) == members.end()) {
    return members.size();
  }
  std::stable_sort(members.begin(), members.end(), name_less);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const bool last_of_run = i + 1 == members.size() || members[i + 1].name != members[i].name;
    if (last_of_run) members[kept++] = members[i];
  }
  return kept;
}

}  // namespace tolvanik
