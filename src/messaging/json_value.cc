#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "messaging/json.h"

namespace tolvanik {
namespace {

constexpr std::size_t kFirstChunkBytes = 4096;
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

namespace {

// Every chunk starts with a link to the one made before it.
struct Chunk {
  Chunk* previous;
};

// A text taken over whole; its node lives in the arena's own chunks.
struct AdoptedText {
  std::string text;
  AdoptedText* previous;
};

}  // namespace

struct JsonArenaState {
  Chunk* last_chunk;
  AdoptedText* last_adopted;
  std::byte* free;
  std::size_t free_bytes;
  std::size_t next_chunk_bytes;
};

namespace {

constexpr std::size_t kChunkAlignment = alignof(std::max_align_t);
constexpr std::size_t kFirstChunkHeader =
    (sizeof(Chunk) + sizeof(JsonArenaState) + kChunkAlignment - 1) / kChunkAlignment *
    kChunkAlignment;
constexpr std::size_t kChunkHeader = kChunkAlignment;

std::byte* new_chunk(std::size_t bytes, Chunk* previous) {
  auto* chunk = static_cast<Chunk*>(::operator new(bytes));
  chunk->previous = previous;
  return reinterpret_cast<std::byte*>(chunk);
}

}  // namespace

JsonArena::JsonArena(std::size_t first_chunk_bytes) {
  start(kFirstChunkHeader + first_chunk_bytes);
}

JsonArena& JsonArena::operator=(JsonArena&& other) noexcept {
  if (this != &other) {
    release();
    state_ = std::exchange(other.state_, nullptr);
  }
  return *this;
}

JsonArena::~JsonArena() { release(); }

void JsonArena::start(std::size_t first_chunk_bytes) {
  std::byte* chunk = new_chunk(first_chunk_bytes, nullptr);
  state_ = new (chunk + sizeof(Chunk)) JsonArenaState{
      reinterpret_cast<Chunk*>(chunk), nullptr, chunk + kFirstChunkHeader,
      first_chunk_bytes - kFirstChunkHeader, std::min(2 * first_chunk_bytes, kLargestChunkBytes)};
}

void JsonArena::release() {
  if (state_ == nullptr) return;
  for (AdoptedText* adopted = state_->last_adopted; adopted != nullptr;) {
    AdoptedText* const previous = adopted->previous;
    adopted->~AdoptedText();
    adopted = previous;
  }
  // The first chunk, which holds the state, is the last one freed.
  for (Chunk* chunk = state_->last_chunk; chunk != nullptr;) {
    Chunk* const previous = chunk->previous;
    ::operator delete(chunk);
    chunk = previous;
  }
  state_ = nullptr;
}

void* JsonArena::allocate(std::size_t bytes, std::size_t alignment) {
  if (state_ == nullptr) start(kFirstChunkBytes);
  JsonArenaState& state = *state_;
  const std::size_t padding =
      (alignment - reinterpret_cast<std::uintptr_t>(state.free) % alignment) % alignment;
  if (state.free_bytes < bytes + padding) {
    // A large block gets a chunk of its own, so the current one stays in use.
    if (bytes > state.next_chunk_bytes / 2) {
      std::byte* chunk = new_chunk(kChunkHeader + bytes, state.last_chunk);
      state.last_chunk = reinterpret_cast<Chunk*>(chunk);
      return chunk + kChunkHeader;
    }
    std::byte* chunk = new_chunk(state.next_chunk_bytes, state.last_chunk);
    state.last_chunk = reinterpret_cast<Chunk*>(chunk);
    state.free = chunk + kChunkHeader;
    state.free_bytes = state.next_chunk_bytes - kChunkHeader;
    state.next_chunk_bytes = std::min(state.next_chunk_bytes * 2, kLargestChunkBytes);
    return allocate(bytes, alignment);
  }
  std::byte* block = state.free + padding;
  state.free = block + bytes;
  state.free_bytes -= bytes + padding;
  return block;
}

std::string_view JsonArena::copy(std::string_view text) {
  if (text.empty()) return {};
  auto* chars = static_cast<char*>(allocate(text.size(), 1));
  std::memcpy(chars, text.data(), text.size());
  return {chars, text.size()};
}

std::span<char> JsonArena::adopt(std::string text) {
  // The string stays put in its node: moving a short string moves its
  // bytes, and the spans handed out must stay valid.
  void* node = allocate(sizeof(AdoptedText), alignof(AdoptedText));
  state_->last_adopted = new (node) AdoptedText{std::move(text), state_->last_adopted};
  return state_->last_adopted->text;
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
