#include "platform/utf8.h"

#include <cstdint>

namespace tolvanik {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace

Utf8Sequence decode_utf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t code_point = 0;
  // The permitted range of the second byte excludes overlong forms,
  // surrogates and code points above U+10FFFF.
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_min = 0xA0;
    if (lead == 0xED) second_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_min = 0x90;
    if (lead == 0xF4) second_max = 0x8F;
  } else {
    return {};
  }
  for (std::size_t k = 1; k < length; ++k) {
    const std::size_t i = at + k;
    const unsigned char low = k == 1 ? second_min : 0x80;
    const unsigned char high = k == 1 ? second_max : 0xBF;
    if (i >= text.size() || byte(i) < low || byte(i) > high) return {0, k, false};
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  return {code_point, length, true};
}

void append_utf8(char32_t code_point, std::string& out) {
  const auto put = [&](std::uint32_t bits) { out.push_back(static_cast<char>(bits)); };
  if (code_point < 0x80) {
    put(code_point);
  } else if (code_point < 0x800) {
    put(0xC0 | (code_point >> 6));
    put(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    put(0xE0 | (code_point >> 12));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  } else {
    put(0xF0 | (code_point >> 18));
    put(0x80 | ((code_point >> 12) & 0x3F));
    put(0x80 | ((code_point >> 6) & 0x3F));
    put(0x80 | (code_point & 0x3F));
  }
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Sequence sequence = decode_utf8(text, at);
    if (!sequence.well_formed) return false;
    at += sequence.length;
  }
  return true;
}

std::string utf8_text_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const Utf8Sequence sequence = decode_utf8(bytes, at);
    if (sequence.well_formed) {
      text.append(bytes.substr(at, sequence.length));
    } else {
      text.append(kReplacementCharacter);
    }
    at += sequence.length;
  }
  return text;
}

}  // namespace tolvanik
