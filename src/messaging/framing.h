// Native-messaging frames: a 4-byte little-endian payload length, then the
// payload, one JSON document in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik {

inline constexpr std::uint32_t kMaxIncomingPayload = 4 * 1024 * 1024;

// The most payload bytes the browsers deliver to the extension in one
// message; a larger reply or push never arrives.
inline constexpr std::size_t kBrowserMessageLimit = 1024 * 1024;

// Why the input yields no further message.
enum class InputEndReason {
  // The input ended between frames.
  kEndOfInput,
  // The input ended inside a frame.
  kCutShort,
  kEmptyFrame,
  kTooLong,
  kNulByte,
  kNotUtf8,
  kNotJson,
};

struct InputEnd {
  InputEndReason reason = InputEndReason::kEndOfInput;
  // The length the last frame announced; 0 when the input ended between frames.
  std::uint32_t length = 0;
};

// A few words for people: "end of input", "length too large", ...
std::string_view describe(InputEndReason reason);

// Takes frames apart from a byte stream. Any frame that cannot be read or
// parsed ends the stream for good: the conversation is over.
class FrameReader {
 public:
  // Reads up to span.size() bytes; 0 means end of input or a failed read.
  using ByteSource = std::function<std::size_t(std::span<char>)>;

  // With `read_ahead` the reader takes whatever the source has ready, so that
  // frames sent together are taken apart from one read. Without it, not one
  // byte beyond the current frame is consumed.
  FrameReader(ByteSource source, bool read_ahead);

  // The next message, or once the stream has ended, why it did.
  std::expected<JsonDocument, InputEnd> next();

  // True when next() can answer from what has been read already.
  bool has_buffered_frame() const;

 private:
  bool fill(std::size_t wanted);
  // A payload read ahead already is parsed from the buffer. One still to
  // come is read straight into a text of its own, which its document takes
  // over: a large message is neither copied nor cleared before it is read.
  std::expected<JsonDocument, InputEndReason> read_payload(std::size_t length);
  // The next message, or why there is none, before the reader records it.
  std::expected<JsonDocument, InputEnd> take_frame();
  std::size_t buffered() const { return buffer_.size() - start_; }

  ByteSource source_;
  bool read_ahead_;
  std::optional<InputEnd> ended_;
  std::string buffer_;
  std::size_t start_ = 0;
};

// Reads one message from standard input, consuming exactly its frame.
std::expected<JsonDocument, InputEnd> read_message();

// The whole frame for `message`: length and compact payload in one buffer
// (with room for `expected_bytes` made up front), or nothing when the
// payload is too long for the length field.
std::optional<std::string> encode_frame(const JsonValue& message, std::size_t expected_bytes = 0);

// Appends the whole frame for `message` to `frames`; false, with `frames`
// as it was, when the payload is too long for the length field.
bool append_frame(const JsonValue& message, std::string& frames);

// Writes the root of `message` as one frame to standard output in a single
// write, and yields the payload's size. A failed write is ignored: the
// browser may have gone away.
std::size_t send_message(const JsonDocument& message);

}  // namespace tolvanik
