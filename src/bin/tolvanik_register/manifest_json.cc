#include "bin/tolvanik_register/manifest_json.h"

#include "messaging/json.h"

namespace tolvanik::registration {
namespace {

std::optional<Json> parse_object(std::string_view text) {
  auto value = parse_json(text);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

std::expected<std::string, std::string> string_member(const Json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_string()) {
    return std::unexpected(std::string("\"") + name + "\" is missing or not a string");
  }
  return member->get<std::string>();
}

}  // namespace

std::string manifest_text(const Manifest& manifest) {
  const Json object{{"name", manifest.name},
                    {"description", manifest.description},
                    {"path", manifest.path},
                    {"type", manifest.type},
                    {"allowed_origins", manifest.allowed_origins}};
  return to_pretty_json(object) + "\n";
}

std::expected<Manifest, std::string> read_manifest(std::string_view text) {
  const auto object = parse_object(text);
  if (!object) return std::unexpected("not a JSON object");
  Manifest manifest;
  for (auto [field, name] : {std::pair{&manifest.name, "name"},
                             {&manifest.description, "description"},
                             {&manifest.path, "path"},
                             {&manifest.type, "type"}}) {
    auto value = string_member(*object, name);
    if (!value) return std::unexpected(value.error());
    *field = std::move(*value);
  }
  const auto origins = object->find("allowed_origins");
  if (origins == object->end() || !origins->is_array()) {
    return std::unexpected("\"allowed_origins\" is missing or not a list");
  }
  for (const auto& origin : *origins) {
    if (!origin.is_string()) return std::unexpected("\"allowed_origins\" holds a non-string");
    manifest.allowed_origins.push_back(origin.get<std::string>());
  }
  return manifest;
}

std::optional<std::string> reply_type(std::string_view payload) {
  const auto object = parse_object(payload);
  if (!object) return std::nullopt;
  auto type = string_member(*object, "type");
  if (!type) return std::nullopt;
  return *type;
}

std::optional<StatusFacts> read_status_reply(std::string_view payload) {
  const auto object = parse_object(payload);
  if (!object) return std::nullopt;
  const auto templates = object->find("templates");
  const auto running = object->find("isRunning");
  if (templates == object->end() || !templates->is_array() || running == object->end() ||
      !running->is_boolean()) {
    return std::nullopt;
  }
  return StatusFacts{templates->size(), running->get<bool>()};
}

bool is_json_document(std::string_view text) { return parse_json(text).has_value(); }

}  // namespace tolvanik::registration
