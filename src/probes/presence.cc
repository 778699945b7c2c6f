#include "probes/presence.h"

#include <array>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/process.h"

namespace tolvanik {
namespace {

constexpr std::array<std::string_view, 2> kDesktopImageNames = {"Tolvanik.exe", "app.exe"};
constexpr std::string_view kProbeWait = "presence probe";

enum class Listing { kShown, kNotShown, kCutOff };

Listing listing_shows(std::string_view image_name, WaitWatch* watch) {
  const auto program = platform::find_system_program("tasklist");
  if (!program) return Listing::kNotShown;
  const auto started = platform::monotonic_now();
  platform::CaptureLimits limits{.time_limit = kProbeTimeLimit, .give_up = {}};
  if (watch != nullptr) limits.give_up = [watch] { return watch->waited_for_nobody(); };
  const auto listing = platform::run_and_capture(
      *program, {"/FI", "IMAGENAME eq " + std::string(image_name), "/NH"}, limits);
  if (listing && listing->stop == platform::CaptureStop::kGivenUp) {
    watch->end_host(kProbeWait, platform::monotonic_now() - started);
  }
  if (listing && listing->stop == platform::CaptureStop::kTimeLimit) {
    if (watch != nullptr) watch->timed_out(kProbeWait, platform::monotonic_now() - started);
    return Listing::kCutOff;
  }
  // The names are ASCII, and no ASCII byte can be part of an invalid UTF-8
  // sequence, so matching the raw bytes finds exactly what matching the
  // decoded text would.
  return listing && listing->output.find(image_name) != std::string::npos ? Listing::kShown
                                                                          : Listing::kNotShown;
}

}  // namespace

bool is_desktop_app_running(WaitWatch* watch) {
  for (const auto name : kDesktopImageNames) {
    switch (listing_shows(name, watch)) {
      case Listing::kShown:
        return true;
      // The next listing would only get stuck the same way.
      case Listing::kCutOff:
        return false;
      case Listing::kNotShown:
        break;
    }
  }
  return false;
}

}  // namespace tolvanik
