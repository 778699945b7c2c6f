// The self-check a person runs when the extension cannot reach the host.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "bin/tolvanik_register/manifest_json.h"
#include "bin/tolvanik_register/options.h"

namespace tolvanik::registration {

// What keeps a browser of the manifest's family from starting its host,
// read as the manifest of `expected_name`; empty when nothing does.
std::vector<std::string> manifest_problems(const Manifest& manifest, std::string_view expected_name,
                                           bool host_exists);

// The host a browser starts for a manifest at `manifest_path` that names
// `host_path`. Where the browsers take a relative path from the manifest's
// folder (`relative_allowed`) it is resolved there; elsewhere it stays as it
// is, and manifest_problems finds it not absolute.
std::string host_seen_by_browser(const std::string& host_path, const std::string& manifest_path,
                                 bool relative_allowed);

// The host's reply inside the output of one run: the payload of the first
// frame, or nothing when the output holds no whole frame.
std::optional<std::string> first_frame_payload(std::string_view output);

// Prints one line per finding and a verdict; yields the exit status, 0 only
// when at least one browser has the host registered and every such host
// answers.
int run_check(const Options& options, std::ostream& out);

}  // namespace tolvanik::registration
