#include "templates/template_view.h"

#include <string_view>

namespace tolvanik {
namespace {

constexpr JsonValue kEmptyString = JsonValue::string("");
constexpr JsonValue kFalse = JsonValue::boolean(false);

JsonMember copy_or(const JsonValue& source, std::string_view name, JsonValue fallback) {
  const JsonValue* member = source.find(name);
  return {name, member != nullptr ? *member : fallback};
}

}  // namespace

// Members are listed in ascending name order, as objects keep them.
JsonValue normalize_color(const JsonValue& entry, JsonArena& arena) {
  const auto view = arena.members(5);
  view[0] = copy_or(entry, "hex", kEmptyString);
  view[1] = copy_or(entry, "id", kEmptyString);
  view[2] = copy_or(entry, "isAutoNamed", kFalse);
  view[3] = copy_or(entry, "isLocked", kFalse);
  view[4] = copy_or(entry, "name", kEmptyString);
  return JsonValue::sorted_object(view);
}

JsonValue normalize_template(const JsonValue& stored_template, JsonArena& arena) {
  if (!stored_template.is_object()) return stored_template;
  std::span<JsonValue> colors;
  const JsonValue* stored_colors = stored_template.find("colors");
  if (stored_colors != nullptr && stored_colors->is_array()) {
    const auto entries = stored_colors->elements();
    colors = arena.values(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) colors[i] = normalize_color(entries[i], arena);
  }
  const auto view = arena.members(4);
  view[0] = {"colors", JsonValue::array(colors)};
  view[1] = copy_or(stored_template, "id", kEmptyString);
  view[2] = copy_or(stored_template, "isLocked", kFalse);
  view[3] = copy_or(stored_template, "name", kEmptyString);
  return JsonValue::sorted_object(view);
}

JsonValue visible_templates(std::span<const JsonValue> stored_templates, JsonArena& arena) {
  const auto views = arena.values(stored_templates.size());
  std::size_t count = 0;
  for (const JsonValue& stored : stored_templates) {
    const JsonValue* deleted = stored.find("deleted");
    if (deleted != nullptr && deleted->is_true()) continue;
    views[count++] = normalize_template(stored, arena);
  }
  return JsonValue::array(views.first(count));
}

}  // namespace tolvanik
