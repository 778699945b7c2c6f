// frame_tool: speaks the host's framing by hand.
//
//   frame_tool encode [--echo]   JSON lines on stdin -> one frame each on stdout
//   frame_tool decode [--pretty] frames on stdin -> one "← " line each on stdout
//
// Each frame or line goes out the moment it is complete, so the tool can sit
// on either side of a running host:
//   printf '{"type":"ping"}\n' | frame_tool encode | tolvanik_host | frame_tool decode

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "bin/frame_tool/frame_codec.h"
#include "platform/std_streams.h"

namespace {

using tolvanik::frame_tool::FrameDecoder;

constexpr std::string_view kUsage =
    "usage: frame_tool encode [--echo]\n"
    "       frame_tool decode [--pretty]\n";

constexpr std::size_t kReadChunk = 64 * 1024;

void write_stderr(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

// Frames every complete line as soon as it has arrived. An unparsable line
// ends the run: guessing what was meant would send the host something else.
int encode(bool echo) {
  std::string pending;
  std::array<char, kReadChunk> chunk;
  std::size_t line_number = 0;
  bool input_open = true;
  while (input_open) {
    const std::size_t got = tolvanik::platform::read_stdin_some(std::span<char>(chunk));
    input_open = got > 0;
    pending.append(chunk.data(), got);
    std::size_t line_start = 0;
    while (true) {
      std::size_t line_end = pending.find('\n', line_start);
      if (line_end == std::string::npos) {
        if (input_open) break;
        line_end = pending.size();  // the last line may lack its line feed
      }
      const std::string_view line(pending.data() + line_start, line_end - line_start);
      ++line_number;
      line_start = std::min(line_end + 1, pending.size());
      if (!tolvanik::frame_tool::is_blank_line(line)) {
        const auto frame = tolvanik::frame_tool::frame_from_line(line);
        if (!frame) {
          write_stderr("frame_tool: line " + std::to_string(line_number) + ": " + frame.error() +
                       "\n");
          return 1;
        }
        if (echo) write_stderr("→ " + frame->substr(4) + "\n");
        // A reader that has gone away (a one-shot host ends after one
        // message) is a normal end of the conversation.
        if (!tolvanik::platform::write_stdout_all(*frame)) return 0;
      }
      if (line_start >= pending.size()) break;
    }
    pending.erase(0, line_start);
  }
  return 0;
}

int decode(bool pretty) {
  FrameDecoder decoder;
  std::array<char, kReadChunk> chunk;
  while (true) {
    const std::size_t got = tolvanik::platform::read_stdin_some(std::span<char>(chunk));
    if (got == 0) break;
    decoder.feed(std::string_view(chunk.data(), got));
    while (true) {
      const auto message = decoder.next();
      if (!message) {
        write_stderr("frame_tool: " + message.error() + "\n");
        return 1;
      }
      if (!*message) break;
      std::string line = "← ";
      if (pretty) {
        tolvanik::append_pretty_json((*message)->root(), line);
      } else {
        tolvanik::append_compact_json((*message)->root(), line);
      }
      line += '\n';
      if (!tolvanik::platform::write_stdout_all(line)) return 0;
    }
  }
  if (const auto unfinished = decoder.unfinished_frame()) {
    write_stderr("frame_tool: " + *unfinished + "\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tolvanik::platform::prepare_process();
  const std::string_view mode = argc >= 2 ? argv[1] : "";
  const std::string_view option = argc >= 3 ? argv[2] : "";
  if (argc <= 3 && mode == "encode" && (option.empty() || option == "--echo")) {
    return encode(option == "--echo");
  }
  if (argc <= 3 && mode == "decode" && (option.empty() || option == "--pretty")) {
    return decode(option == "--pretty");
  }
  write_stderr(kUsage);
  return 2;
}
