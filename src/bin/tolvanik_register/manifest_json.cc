#include "bin/tolvanik_register/manifest_json.h"

#include "messaging/json.h"

namespace tolvanik::registration {
namespace {

std::optional<JsonDocument> parse_object(std::string_view text) {
  auto document = parse_json(text);
  if (!document || !document->root().is_object()) return std::nullopt;
  return document;
}

std::expected<std::string, std::string> string_member(const JsonValue& object,
                                                      std::string_view name) {
  const JsonValue* member = object.find(name);
  if (!member || !member->is_string()) {
    return std::unexpected(quoted(name) + " is missing or not a string");
  }
  return std::string(member->as_string());
}

std::expected<std::vector<std::string>, std::string> string_list_member(const JsonValue& object,
                                                                        std::string_view name) {
  const JsonValue* list = object.find(name);
  if (!list || !list->is_array()) {
    return std::unexpected(quoted(name) + " is missing or not a list");
  }
  std::vector<std::string> strings;
  for (const JsonValue& element : list->elements()) {
    if (!element.is_string()) return std::unexpected(quoted(name) + " holds a non-string");
    strings.emplace_back(element.as_string());
  }
  return strings;
}

}  // namespace

std::string manifest_text(const Manifest& manifest) {
  JsonArena arena;
  std::vector<JsonValue> allowed;
  for (const std::string& entry : manifest.allowed) allowed.push_back(JsonValue::string(entry));
  const JsonValue object =
      arena.object({{"name", JsonValue::string(manifest.name)},
                    {"description", JsonValue::string(manifest.description)},
                    {"path", JsonValue::string(manifest.path)},
                    {"type", JsonValue::string(manifest.type)},
                    {manifest.family->allowed_key, JsonValue::array(allowed)}});
  return to_pretty_json(object) + "\n";
}

std::expected<Manifest, std::string> read_manifest(std::string_view text, const Family& family) {
  const auto document = parse_object(text);
  if (!document) return std::unexpected("not a JSON object");
  const JsonValue& object = document->root();
  Manifest manifest;
  manifest.family = &family;
  for (auto [field, name] : {std::pair{&manifest.name, "name"},
                             {&manifest.description, "description"},
                             {&manifest.path, "path"},
                             {&manifest.type, "type"}}) {
    auto value = string_member(object, name);
    if (!value) return std::unexpected(value.error());
    *field = std::move(*value);
  }
  if (!family.refused_key.empty() && object.find(family.refused_key)) {
    return std::unexpected("it has \"" + std::string(family.refused_key) + "\", which " +
                           std::string(family.name) + " refuses");
  }
  auto allowed = string_list_member(object, family.allowed_key);
  if (!allowed) return std::unexpected(allowed.error());
  manifest.allowed = std::move(*allowed);
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

std::string quoted(std::string_view name) {
  // Built by appending: GCC 12 at -O3 warns falsely about a literal put
  // before a string.
  std::string text(1, '"');
  text.append(name).push_back('"');
  return text;
}

bool is_json_document(std::string_view text) { return parse_json(text).has_value(); }

}  // namespace tolvanik::registration
