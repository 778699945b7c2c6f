// Every JSON text the registration tool writes or reads: the host manifest
// and the few replies of the host it looks into.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvanik::registration {

struct Manifest {
  std::string name;
  std::string description;
  std::string path;
  std::string type;
  std::vector<std::string> allowed_origins;
};

// The manifest as the browsers read it, pretty-printed, with a final newline.
std::string manifest_text(const Manifest& manifest);

// The manifest's fields; fails when the text is no JSON object or a field
// is missing or of the wrong type, naming the field.
std::expected<Manifest, std::string> read_manifest(std::string_view text);

// The "type" member of a reply, when there is one.
std::optional<std::string> reply_type(std::string_view payload);

// What a "status" reply says about the desktop side.
struct StatusFacts {
  std::size_t templates = 0;
  bool desktop_running = false;
};
std::optional<StatusFacts> read_status_reply(std::string_view payload);

// True when `text` is one JSON document.
bool is_json_document(std::string_view text);

}  // namespace tolvanik::registration
