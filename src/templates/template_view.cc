#include "templates/template_view.h"

#include <string_view>
#include <utility>

namespace tolvanik {
namespace {

const Json* find_member(const Json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  return found == value.end() ? nullptr : &*found;
}

// Members are added in ascending key order, so each goes in at the end.
void put_copy_or_empty_string(Json::object_t& view, const char* key, const Json& source) {
  const Json* member = find_member(source, key);
  view.emplace_hint(view.end(), key, member ? *member : Json(Json::value_t::string));
}

void put_copy_or_false(Json::object_t& view, const char* key, const Json& source) {
  const Json* member = find_member(source, key);
  view.emplace_hint(view.end(), key, member ? *member : Json(false));
}

}  // namespace

Json normalize_color(const Json& entry) {
  Json::object_t view;
  put_copy_or_empty_string(view, "hex", entry);
  put_copy_or_empty_string(view, "id", entry);
  put_copy_or_false(view, "isAutoNamed", entry);
  put_copy_or_false(view, "isLocked", entry);
  put_copy_or_empty_string(view, "name", entry);
  return Json(std::move(view));
}

Json normalize_template(const Json& stored_template) {
  if (!stored_template.is_object()) return stored_template;
  Json::array_t colors;
  const Json* stored_colors = find_member(stored_template, "colors");
  if (stored_colors != nullptr && stored_colors->is_array()) {
    colors.reserve(stored_colors->size());
    for (const Json& entry : *stored_colors) colors.push_back(normalize_color(entry));
  }
  Json::object_t view;
  view.emplace_hint(view.end(), "colors", std::move(colors));
  put_copy_or_empty_string(view, "id", stored_template);
  put_copy_or_false(view, "isLocked", stored_template);
  put_copy_or_empty_string(view, "name", stored_template);
  return Json(std::move(view));
}

Json::array_t visible_templates(const Json::array_t& stored_templates) {
  Json::array_t views;
  views.reserve(stored_templates.size());
  for (const Json& stored : stored_templates) {
    const Json* deleted = find_member(stored, "deleted");
    if (deleted != nullptr && deleted->is_boolean() && deleted->get<bool>()) continue;
    views.push_back(normalize_template(stored));
  }
  return views;
}

}  // namespace tolvanik
