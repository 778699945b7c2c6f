#include "messaging/framing.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/std_streams.h"

namespace tolvanik {
namespace {

constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kReadAheadChunk = 64 * 1024;

std::uint32_t decode_length(const char* bytes) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) {
    length = (length << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return length;
}

}  // namespace

FrameReader::FrameReader(ByteSource source, bool read_ahead)
    : source_(std::move(source)), read_ahead_(read_ahead) {}

bool FrameReader::fill(std::size_t wanted) {
  while (buffered() < wanted) {
    if (start_ > 0) {
      buffer_.erase(0, start_);
      start_ = 0;
    }
    const std::size_t missing = wanted - buffered();
    const std::size_t request = read_ahead_ ? std::max(missing, kReadAheadChunk) : missing;
    const std::size_t old_size = buffer_.size();
    std::size_t got = 0;
    buffer_.resize_and_overwrite(old_size + request, [&](char* bytes, std::size_t) {
      got = source_(std::span<char>(bytes + old_size, request));
      return old_size + got;
    });
    if (got == 0) return false;
  }
  return true;
}

std::optional<JsonDocument> FrameReader::read_payload(std::size_t length) {
  if (buffered() >= length) {
    const std::string_view payload(buffer_.data() + start_, length);
    start_ += length;
    return parse_json(payload);
  }
  std::string payload;
  payload.reserve(length + kJsonReadingSpare);
  payload.append(buffer_, start_);
  start_ = buffer_.size();
  while (payload.size() < length) {
    const std::size_t have = payload.size();
    std::size_t got = 0;
    payload.resize_and_overwrite(length, [&](char* bytes, std::size_t size) {
      got = source_(std::span<char>(bytes + have, size - have));
      return have + got;
    });
    if (got == 0) return std::nullopt;
  }
  return parse_json_in_place(std::move(payload));
}

std::optional<JsonDocument> FrameReader::next() {
  if (ended_) return std::nullopt;
  std::optional<JsonDocument> message;
  if (fill(kLengthSize)) {
    const std::uint32_t length = decode_length(buffer_.data() + start_);
    if (length != 0 && length <= kMaxIncomingPayload) {
      start_ += kLengthSize;
      message = read_payload(length);
    }
  }
  if (!message) {
    ended_ = true;
    std::string().swap(buffer_);
    start_ = 0;
  }
  return message;
}

bool FrameReader::has_buffered_frame() const {
  if (ended_ || buffered() < kLengthSize) return false;
  const std::uint32_t length = decode_length(buffer_.data() + start_);
  // A refused length ends the stream without reading on, so it is "ready".
  return length == 0 || length > kMaxIncomingPayload || buffered() >= kLengthSize + length;
}

std::optional<JsonDocument> read_message() {
  FrameReader reader(platform::read_stdin_some, /*read_ahead=*/false);
  return reader.next();
}

bool append_frame(const JsonValue& message, std::string& frames) {
  const std::size_t start = frames.size();
  frames.resize(start + kLengthSize);
  append_compact_json(message, frames);
  const std::size_t length = frames.size() - start - kLengthSize;
  if (length > std::numeric_limits<std::uint32_t>::max()) {
    frames.resize(start);
    return false;
  }
  for (std::size_t i = 0; i < kLengthSize; ++i) {
    frames[start + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  }
  return true;
}

std::optional<std::string> encode_frame(const JsonValue& message, std::size_t expected_bytes) {
  std::string frame;
  frame.reserve(kLengthSize + expected_bytes);
  if (!append_frame(message, frame)) return std::nullopt;
  return frame;
}

void send_message(const JsonDocument& message) {
  // Only the main thread writes to standard output, and each frame goes out
  // in one write, so frames never interleave.
  if (const auto frame = encode_frame(message.root(), message.text_bytes())) {
    platform::write_stdout_all(*frame);
  }
}

}  // namespace tolvanik
