// Every JSON text the registration tool writes or reads: the host manifest
// and the few replies of the host it looks into.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin/tolvanik_register/browsers.h"

namespace tolvanik::registration {

struct Manifest {
  // The family whose browsers read the manifest; it names the list below.
  const Family* family = &kChromiumFamily;
  std::string name;
  std::string description;
  std::string path;
  std::string type;
  // The extensions allowed to talk to the host.
  std::vector<std::string> allowed;

  bool operator==(const Manifest&) const = default;
};

// The manifest as the browsers of its family read it, pretty-printed, with
// a final newline.
std::string manifest_text(const Manifest& manifest);

// The fields of the manifest of `family` in `text`; fails when the text is
// no JSON object, when a field is missing or of the wrong type, naming the
// field, or when it also has a list the family refuses.
std::expected<Manifest, std::string> read_manifest(std::string_view text, const Family& family);

// The "type" member of a reply, when there is one.
std::optional<std::string> reply_type(std::string_view payload);

// What a "status" reply says about the desktop side.
struct StatusFacts {
  std::size_t templates = 0;
  bool desktop_running = false;
};
std::optional<StatusFacts> read_status_reply(std::string_view payload);

// `name` in double quotes, as the tool names a manifest's fields.
std::string quoted(std::string_view name);

// True when `text` is one JSON document.
bool is_json_document(std::string_view text);

}  // namespace tolvanik::registration
