#include "probes/presence.h"

#include <array>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace tolvanik {
namespace {

constexpr std::array<std::string_view, 2> kDesktopImageNames = {"Tolvanik.exe", "app.exe"};

bool listing_shows(std::string_view image_name) {
  const auto program = platform::find_system_program("tasklist");
  if (!program) return false;
  const auto listing = platform::run_and_capture(
      *program, {"/FI", "IMAGENAME eq " + std::string(image_name), "/NH"});
  // The names are ASCII, and no ASCII byte can be part of an invalid UTF-8
  // sequence, so matching the raw bytes finds exactly what matching the
  // decoded text would.
  return listing && listing->find(image_name) != std::string::npos;
}

}  // namespace

bool is_desktop_app_running() {
  for (const auto name : kDesktopImageNames) {
    if (listing_shows(name)) return true;
  }
  return false;
}

}  // namespace tolvanik
