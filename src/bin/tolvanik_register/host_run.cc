#include "bin/tolvanik_register/host_run.h"

#include <cstdint>
#include <vector>

#include "bin/tolvanik_register/sites.h"
#include "identity/extension_identity.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace tolvanik::registration {
namespace {

using namespace std::chrono_literals;

// Generous: a cold start under a busy system or an emulator takes seconds.
constexpr auto kHostTimeout = 20s;

std::string frame_of(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<char>(length >> shift));
  frame.append(payload);
  return frame;
}

struct HostStartup {
  std::vector<std::string> arguments;
  std::string working_directory;
};

// The arguments and working folder the manifest's browser gives the host,
// after the one that tells check's runs apart in the host's log.
HostStartup browser_start(const Manifest& manifest, const std::string& manifest_path) {
  const std::string check(kCheckCallerArgument);
  if (manifest.family->host_start == HostStart::kManifestAndIdInBrowserFolder) {
    return {{check, manifest_path, manifest.allowed.front()}, "."};
  }
  return {{check, manifest.allowed.front()}, directory_of(manifest.path, platform::kPathSeparator)};
}

}  // namespace

std::expected<HostAnswer, std::string> ask_host(const Manifest& manifest,
                                                const std::string& manifest_path,
                                                std::string_view request) {
  const auto started = platform::monotonic_now();
  const HostStartup start = browser_start(manifest, manifest_path);
  const auto run = platform::run_with_input(manifest.path, start.arguments, start.working_directory,
                                            frame_of(request), kHostTimeout);
  if (!run) return std::unexpected("the host could not be started: " + run.error());
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonic_now() - started);
  auto payload = first_frame_payload(run->output);
  if (!payload) {
    if (!run->exit_status) {
      return std::unexpected("the host did not answer within " +
                             std::to_string(std::chrono::seconds(kHostTimeout).count()) + " s");
    }
    return std::unexpected("the host exited with status " + std::to_string(*run->exit_status) +
                           " without an answer");
  }
  return HostAnswer{std::move(*payload), elapsed};
}

std::optional<std::string> first_frame_payload(std::string_view output) {
  if (output.size() < 4) return std::nullopt;
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(output[i]);
  if (output.size() - 4 < length) return std::nullopt;
  return std::string(output.substr(4, length));
}

}  // namespace tolvanik::registration
