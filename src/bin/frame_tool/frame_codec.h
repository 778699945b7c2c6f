// The two halves of frame_tool: JSON lines into native-messaging frames and
// frames back into JSON values, kept apart from the streams so they can be
// exercised on plain strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik::frame_tool {

// Frames longer than this are taken for text or garbage piped in by mistake:
// without a limit the decoder would wait for gigabytes that never come. It
// is far above anything a browser exchanges with a host.
inline constexpr std::uint32_t kMaxDecodedPayload = 64 * 1024 * 1024;

// The frame for one line of JSON text: length, then the compact payload.
// Fails when the line is not exactly one JSON value.
std::expected<std::string, std::string> frame_from_line(std::string_view line);

// True for a line holding nothing but whitespace, which carries no message.
bool is_blank_line(std::string_view line);

// Takes frames apart from bytes handed over as they arrive.
class FrameDecoder {
 public:
  void feed(std::string_view bytes);

  // The value of the next complete frame, nothing while more bytes are
  // needed, or a description of a malformed frame (after which the stream
  // makes no sense any more).
  std::expected<std::optional<JsonDocument>, std::string> next();

  // At the end of input: a description of the frame left unfinished, if any.
  std::optional<std::string> unfinished_frame() const;

 private:
  std::size_t buffered() const { return buffer_.size() - start_; }

  std::string buffer_;
  std::size_t start_ = 0;
  std::size_t frames_read_ = 0;
};

}  // namespace tolvanik::frame_tool
