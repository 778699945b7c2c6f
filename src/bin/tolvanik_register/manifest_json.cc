#include "bin/tolvanik_register/manifest_json.h"

#include "messaging/json.h"

namespace tolvanik::registration {
namespace {

std::optional<JsonDocument> parse_object(std::string_view text) {
  auto document = parse_json(text);
  if (!document || !document->root().is_object()) return std::nullopt;
  return document;
}

std::expected<std::string, std::string> string_member(const JsonValue& object, const char* name) {
  const JsonValue* member = object.find(name);
  if (!member || !member->is_string()) {
    return std::unexpected(std::string("\"") + name + "\" is missing or not a string");
  }
  return std::string(member->as_string());
}

std::expected<std::vector<std::string>, std::string> string_list_member(const JsonValue& object,
                                                                        const char* name) {
  const JsonValue* list = object.find(name);
  if (!list || !list->is_array()) {
    return std::unexpected(std::string("\"") + name + "\" is missing or not a list");
  }
  std::vector<std::string> strings;
  for (const JsonValue& element : list->elements()) {
    if (!element.is_string())
      return std::unexpected(std::string("\"") + name + "\" holds a non-string");
    strings.emplace_back(element.as_string());
  }
  return strings;
}

}  // namespace

std::string manifest_text(const Manifest& manifest, BrowserFamily family) {
  JsonArena arena;
  const bool firefox = family == BrowserFamily::kFirefox;
  std::vector<JsonValue> allowed;
  for (const std::string& entry :
       firefox ? manifest.allowed_extensions : manifest.allowed_origins) {
    allowed.push_back(JsonValue::string(entry));
  }
  const JsonValue object = arena.object(
      {{"name", JsonValue::string(manifest.name)},
       {"description", JsonValue::string(manifest.description)},
       {"path", JsonValue::string(manifest.path)},
       {"type", JsonValue::string(manifest.type)},
       {firefox ? "allowed_extensions" : "allowed_origins", JsonValue::array(allowed)}});
  return to_pretty_json(object) + "\n";
}

std::expected<Manifest, std::string> read_manifest(std::string_view text, BrowserFamily family) {
  const auto document = parse_object(text);
  if (!document) return std::unexpected("not a JSON object");
  const JsonValue& object = document->root();
  Manifest manifest;
  for (auto [field, name] : {std::pair{&manifest.name, "name"},
                             {&manifest.description, "description"},
                             {&manifest.path, "path"},
                             {&manifest.type, "type"}}) {
    auto value = string_member(object, name);
    if (!value) return std::unexpected(value.error());
    *field = std::move(*value);
  }
  if (family == BrowserFamily::kFirefox && object.find("allowed_origins")) {
    return std::unexpected("it has \"allowed_origins\", which Firefox refuses");
  }
  auto allowed = string_list_member(
      object, family == BrowserFamily::kFirefox ? "allowed_extensions" : "allowed_origins");
  if (!allowed) return std::unexpected(allowed.error());
  (family == BrowserFamily::kFirefox ? manifest.allowed_extensions : manifest.allowed_origins) =
      std::move(*allowed);
  return manifest;
}

std::optional<std::string> reply_type(std::string_view payload) {
  const auto document = parse_object(payload);
  if (!document) return std::nullopt;
  auto type = string_member(document->root(), "type");
  if (!type) return std::nullopt;
  return *type;
}

std::optional<StatusFacts> read_status_reply(std::string_view payload) {
  const auto document = parse_object(payload);
  if (!document) return std::nullopt;
  const JsonValue* templates = document->root().find("templates");
  const JsonValue* running = document->root().find("isRunning");
  if (!templates || !templates->is_array() || !running || !running->is_boolean()) {
    return std::nullopt;
  }
  return StatusFacts{templates->elements().size(), running->as_boolean()};
}

bool is_json_document(std::string_view text) { return parse_json(text).has_value(); }

}  // namespace tolvanik::registration
