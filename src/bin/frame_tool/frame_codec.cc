#include "bin/frame_tool/frame_codec.h"

#include "messaging/framing.h"

namespace tolvanik::frame_tool {
namespace {

constexpr std::size_t kLengthSize = 4;

std::uint32_t decode_length(const char* bytes) {
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) {
    length = (length << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return length;
}

std::string frame_error(std::size_t frame_number, std::string_view what) {
  return "frame " + std::to_string(frame_number) + ": " + std::string(what);
}

}  // namespace

std::expected<std::string, std::string> frame_from_line(std::string_view line) {
  const auto value = parse_json(line);
  if (!value) return std::unexpected("not one JSON value");
  auto frame = encode_frame(value->root(), line.size());
  if (!frame) return std::unexpected("too long for one frame");
  return std::move(*frame);
}

bool is_blank_line(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

void FrameDecoder::feed(std::string_view bytes) {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::expected<std::optional<JsonDocument>, std::string> FrameDecoder::next() {
  if (buffered() < kLengthSize) return std::nullopt;
  const std::uint32_t length = decode_length(buffer_.data() + start_);
  if (length == 0) return std::unexpected(frame_error(frames_read_ + 1, "length 0"));
  if (length > kMaxDecodedPayload) {
    return std::unexpected(
        frame_error(frames_read_ + 1, "length " + std::to_string(length) + " is implausible"));
  }
  if (buffered() < kLengthSize + length) return std::nullopt;
  auto value = parse_json(std::string_view(buffer_.data() + start_ + kLengthSize, length));
  if (!value) {
    return std::unexpected(frame_error(frames_read_ + 1, "payload is not one JSON value"));
  }
  start_ += kLengthSize + length;
  ++frames_read_;
  return value;
}

std::optional<std::string> FrameDecoder::unfinished_frame() const {
  if (buffered() == 0) return std::nullopt;
  std::string text =
      frame_error(frames_read_ + 1, "input ended after " + std::to_string(buffered()) + " bytes");
  if (buffered() >= kLengthSize) {
    text += " of " + std::to_string(kLengthSize + decode_length(buffer_.data() + start_));
  }
  return text;
}

}  // namespace tolvanik::frame_tool
