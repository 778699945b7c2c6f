// Any byte stream into the frame reader. Whatever the stream holds, the
// reader must end cleanly, and how the bytes arrive (one at a time, in
// chunks, with or without read-ahead) must not change which messages come
// out of it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "messaging/framing.h"
#include "messaging/json.h"

namespace {

using tolvanik::FrameReader;

std::vector<std::string> messages_from(std::string_view stream, std::size_t chunk,
                                       bool read_ahead) {
  std::size_t offset = 0;
  FrameReader reader(
      [&](std::span<char> buffer) {
        const std::size_t n = std::min({buffer.size(), chunk, stream.size() - offset});
        std::copy_n(stream.data() + offset, n, buffer.data());
        offset += n;
        return n;
      },
      read_ahead);
  std::vector<std::string> texts;
  while (auto message = reader.next()) texts.push_back(tolvanik::to_compact_json(message->root()));
  // Once ended, the reader stays ended.
  if (reader.next()) std::abort();
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::size_t chunk = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::string stream = provider.ConsumeRemainingBytesAsString();

  const auto whole = messages_from(stream, stream.size() + 1, true);
  if (messages_from(stream, chunk, true) != whole) std::abort();
  if (messages_from(stream, chunk, false) != whole) std::abort();
  for (const std::string& text : whole) {
    // What the reader hands on is text the host can write and read back.
    const auto again = tolvanik::parse_json(text);
    if (!again || tolvanik::to_compact_json(again->root()) != text) std::abort();
  }
  return 0;
}
