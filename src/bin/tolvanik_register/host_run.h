// Starting the registered host as its browser starts it, with one request.
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "bin/tolvanik_register/manifest_json.h"

namespace tolvanik::registration {

struct HostAnswer {
  std::string payload;
  std::chrono::milliseconds round_trip{};
};

// Starts the host of `manifest`, found at `manifest_path`, with the
// arguments and working folder its family's browsers give it, sends
// `request` as one frame and takes the first frame of the reply.
std::expected<HostAnswer, std::string> ask_host(const Manifest& manifest,
                                                const std::string& manifest_path,
                                                std::string_view request);

// The host's reply inside the output of one run: the payload of the first
// frame, or nothing when the output holds no whole frame.
std::optional<std::string> first_frame_payload(std::string_view output);

}  // namespace tolvanik::registration
