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

InputEndReason refusal_reason(JsonRefusal refusal) {
  switch (refusal) {
    case JsonRefusal::kNulByte:
      return InputEndReason::kNulByte;
    case JsonRefusal::kNotUtf8:
      return InputEndReason::kNotUtf8;
    case JsonRefusal::kNotJson:
      break;
  }
  return InputEndReason::kNotJson;
}

std::expected<JsonDocument, InputEndReason> explained(
    std::expected<JsonDocument, JsonRefusal> read) {
  if (!read) return std::unexpected(refusal_reason(read.error()));
  return std::move(*read);
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

std::string_view describe(InputEndReason reason) {
  switch (reason) {
    case InputEndReason::kEndOfInput:
      return "end of input";
    case InputEndReason::kCutShort:
      return "input ended inside a frame";
    case InputEndReason::kEmptyFrame:
      return "length 0";
    case InputEndReason::kTooLong:
      return "length too large";
    case InputEndReason::kNulByte:
      return "NUL in text";
    case InputEndReason::kNotUtf8:
      return "not UTF-8";
    case InputEndReason::kNotJson:
      break;
  }
  return "not JSON";
}

std::expected<JsonDocument, InputEndReason> FrameReader::read_payload(std::size_t length) {
  if (buffered() >= length) {
    const std::string_view payload(buffer_.data() + start_, length);
    start_ += length;
    return explained(read_json(payload));
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
    if (got == 0) return std::unexpected(InputEndReason::kCutShort);
  }
  return explained(read_json_in_place(std::move(payload)));
}

std::expected<JsonDocument, InputEnd> FrameReader::take_frame() {
  if (!fill(kLengthSize)) {
    return std::unexpected(
        InputEnd{buffered() == 0 ? InputEndReason::kEndOfInput : InputEndReason::kCutShort, 0});
  }
  const std::uint32_t length = decode_length(buffer_.data() + start_);
  if (length == 0) return std::unexpected(InputEnd{InputEndReason::kEmptyFrame, 0});
  if (length > kMaxIncomingPayload)
    return std::unexpected(InputEnd{InputEndReason::kTooLong, length});
  start_ += kLengthSize;
  auto message = read_payload(length);
  if (!message) return std::unexpected(InputEnd{message.error(), length});
  return std::move(*message);
}

std::expected<JsonDocument, InputEnd> FrameReader::next() {
  if (ended_) return std::unexpected(*ended_);
  auto message = take_frame();
  if (!message) {
    ended_ = message.error();
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

std::expected<JsonDocument, InputEnd> read_message() {
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

std::size_t send_message(const JsonDocument& message) {
  // Only the main thread writes to standard output, and each frame goes out
  // in one write, so frames never interleave.
  const auto frame = encode_frame(message.root(), message.text_bytes());
  if (!frame) return 0;
  platform::write_stdout_all(*frame);
  return frame->size() - kLengthSize;
}

}  // namespace tolvanik
