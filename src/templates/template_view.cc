#include "templates/template_view.h"

#include <string_view>
#include <utility>

namespace tolvanik {
namespace {

// A copy of `object`'s member `key`, or `fallback` when it has none.
Json member_or(const Json& object, std::string_view key, Json fallback) {
  if (object.is_object()) {
    const auto found = object.find(key);
    if (found != object.end()) return *found;
  }
  return fallback;
}

}  // namespace

Json normalize_color(const Json& entry) {
  Json::object_t view;
  view.emplace("hex", member_or(entry, "hex", ""));
  view.emplace("id", member_or(entry, "id", ""));
  view.emplace("isAutoNamed", member_or(entry, "isAutoNamed", false));
  view.emplace("isLocked", member_or(entry, "isLocked", false));
  view.emplace("name", member_or(entry, "name", ""));
  return Json(std::move(view));
}

Json normalize_template(const Json& stored_template) {
  if (!stored_template.is_object()) return stored_template;
  Json::array_t colors;
  const auto stored_colors = stored_template.find("colors");
  if (stored_colors != stored_template.end() && stored_colors->is_array()) {
    colors.reserve(stored_colors->size());
    for (const Json& entry : *stored_colors) colors.push_back(normalize_color(entry));
  }
  Json::object_t view;
  view.emplace("colors", std::move(colors));
  view.emplace("id", member_or(stored_template, "id", ""));
  view.emplace("isLocked", member_or(stored_template, "isLocked", false));
  view.emplace("name", member_or(stored_template, "name", ""));
  return Json(std::move(view));
}

Json::array_t visible_templates(const Json::array_t& stored_templates) {
  Json::array_t views;
  views.reserve(stored_templates.size());
  for (const Json& stored : stored_templates) {
    if (stored.is_object()) {
      const auto deleted = stored.find("deleted");
      if (deleted != stored.end() && deleted->is_boolean() && deleted->get<bool>()) continue;
    }
    views.push_back(normalize_template(stored));
  }
  return views;
}

}  // namespace tolvanik
