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
  std::string name;
  std::string description;
  std::string path;
  std::string type;
  // The Chromium family's list.
  std::vector<std::string> allowed_origins;
  // Firefox's list: add-on ids.
  std::vector<std::string> allowed_extensions;
};

// The manifest as the browsers of `family` read it, with that family's list
// only, pretty-printed, with a final newline.
std::string manifest_text(const Manifest& manifest,
                          BrowserFamily family = BrowserFamily::kChromium);

// The manifest's fields; fails when the text is no JSON object or a field
// is missing or of the wrong type, naming the field, and for Firefox when
// the text also lists origins, which Firefox refuses.
std::expected<Manifest, std::string> read_manifest(std::string_view text,
                                                   BrowserFamily family = BrowserFamily::kChromium);

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
