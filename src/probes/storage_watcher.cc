#include "probes/storage_watcher.h"

#include <chrono>
#include <thread>

#include "storage/location.h"

namespace tolvanik {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// How many bytes from `at` form a well-formed character, or, when they do
// not, how long the ill-formed prefix is (at least 1); `well_formed` tells
// which. The ranges of the second byte are those that exclude overlong
// forms, surrogates and values above U+10FFFF.
std::size_t next_sequence(std::string_view bytes, std::size_t at, bool& well_formed) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  well_formed = true;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    well_formed = false;
    return 1;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const std::size_t i = at + k;
    const bool fits = i < bytes.size() && (k == 1 ? byte(i) >= low && byte(i) <= high
                                                  : byte(i) >= 0x80 && byte(i) <= 0xBF);
    if (!fits) {
      well_formed = false;
      return k;
    }
  }
  return length;
}

}  // namespace

std::string utf8_text_lossy(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    bool well_formed = false;
    const std::size_t length = next_sequence(bytes, at, well_formed);
    if (well_formed) {
      text.append(bytes.substr(at, length));
    } else {
      text.append(kReplacementCharacter);
    }
    at += length;
  }
  return text;
}

void on_storage_dir_event(const platform::DirectoryChange& change,
                          const std::string& storage_file_name, const EventSender& sender) {
  if (change.kind != platform::ChangeKind::kCreate &&
      change.kind != platform::ChangeKind::kModify) {
    return;
  }
  for (const std::string& path : change.paths) {
    const std::string name = final_component(path);
    if (name.empty()) continue;
    if (utf8_text_lossy(name) == storage_file_name) {
      // The receiver is only gone while the process is ending.
      sender.send(StorageChanged{});
      return;
    }
  }
}

void storage_watcher_main(EventSender sender, std::string storage_file_name,
                          std::string storage_directory) {
  platform::watch_directory(storage_directory, [&](const platform::DirectoryChange& change) {
    on_storage_dir_event(change, storage_file_name, sender);
  });
  while (true) std::this_thread::sleep_for(std::chrono::seconds(60));
}

}  // namespace tolvanik
