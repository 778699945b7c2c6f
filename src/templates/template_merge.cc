#include "templates/template_merge.h"

#include <cstdint>
#include <limits>
#include <utility>

#include "platform/sha256.h"
#include "templates/upper_case.h"

namespace tolvanik {
namespace {

// The member `key` of `object` if it has one of the type `is_type` accepts.
const Json* typed_member(const Json& object, std::string_view key,
                         bool (Json::*is_type)() const noexcept) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  if (found == object.end() || !((*found).*is_type)()) return nullptr;
  return &*found;
}

std::string_view string_member(const Json& object, std::string_view key) {
  const Json* value = typed_member(object, key, &Json::is_string);
  return value ? std::string_view(value->get_ref<const Json::string_t&>()) : std::string_view();
}

// The revision after `stored`. Values that are not integers, or that lie
// beyond the signed 64-bit range, start the count again at 1. The largest
// signed value stays where it is: wrapping it would make the record look
// older than it is.
std::int64_t next_revision(const Json* stored) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (stored == nullptr) return 1;
  if (stored->is_number_unsigned()) {
    const auto value = stored->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(kMax)) return 1;
    return value == static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(value) + 1;
  }
  if (stored->is_number_integer()) {
    const auto value = stored->get<std::int64_t>();
    return value == kMax ? kMax : value + 1;
  }
  return 1;
}

bool is_replaced_on_update(std::string_view key) {
  return key == "colors" || key == "contentHash" || key == "isLocked" || key == "lastModified" ||
         key == "modifiedBy" || key == "name" || key == "revision";
}

}  // namespace

StoredTemplateIndex build_stored_template_index(const Json& stored_templates) {
  StoredTemplateIndex index;
  if (!stored_templates.is_array()) return index;
  index.reserve(stored_templates.size());
  for (const Json& record : stored_templates) {
    const Json* id = typed_member(record, "id", &Json::is_string);
    if (id != nullptr) index.insert_or_assign(id->get_ref<const Json::string_t&>(), &record);
  }
  return index;
}

std::string compute_content_hash(std::string_view name, const Json::array_t& colors) {
  std::string canonical;
  canonical.reserve(name.size() + colors.size() * 32);
  canonical.append(name);
  for (const Json& color : colors) {
    canonical.push_back('|');
    append_upper_case(string_member(color, "id"), canonical);
    canonical.push_back(':');
    canonical.append(string_member(color, "name"));
    canonical.push_back(':');
    canonical.append(string_member(color, "hex"));
    canonical.push_back(':');
    const Json* auto_named = typed_member(color, "isAutoNamed", &Json::is_boolean);
    canonical.append(auto_named != nullptr && auto_named->get<bool>() ? "true" : "false");
  }

  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint8_t byte : platform::sha256(canonical)) {
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 0x0F]);
  }
  return hex;
}

Json merge_template(const Json& incoming, const StoredTemplateIndex& index, double last_modified,
                    std::string_view device_id) {
  const std::string_view id = string_member(incoming, "id");
  const std::string_view name = string_member(incoming, "name");
  const Json* colors_member = typed_member(incoming, "colors", &Json::is_array);
  Json::array_t colors =
      colors_member ? colors_member->get_ref<const Json::array_t&>() : Json::array_t();
  const Json* locked_member = typed_member(incoming, "isLocked", &Json::is_boolean);
  const bool is_locked = locked_member != nullptr && locked_member->get<bool>();
  std::string content_hash = compute_content_hash(name, colors);

  const auto stored = index.find(id);
  if (stored == index.end()) {
    Json::object_t record;
    record.emplace("colors", std::move(colors));
    record.emplace("contentHash", std::move(content_hash));
    record.emplace("createdAt", last_modified);
    record.emplace("createdBy", device_id);
    record.emplace("deleted", false);
    record.emplace("deletedAt", nullptr);
    record.emplace("deletedBy", nullptr);
    record.emplace("id", id);
    record.emplace("isLocked", is_locked);
    record.emplace("lastModified", last_modified);
    record.emplace("modifiedBy", device_id);
    record.emplace("name", name);
    record.emplace("revision", std::int64_t{1});
    return Json(std::move(record));
  }

  // Copy the stored record without the members about to be replaced, so
  // that its old colours are not deep-copied only to be dropped.
  const Json& stored_record = *stored->second;
  const std::int64_t revision =
      next_revision(typed_member(stored_record, "revision", &Json::is_number));
  Json::object_t record;
  for (const auto& [key, value] : stored_record.get_ref<const Json::object_t&>()) {
    if (!is_replaced_on_update(key)) record.emplace_hint(record.end(), key, value);
  }
  record.emplace("colors", std::move(colors));
  record.emplace("contentHash", std::move(content_hash));
  record.emplace("isLocked", is_locked);
  record.emplace("lastModified", last_modified);
  record.emplace("modifiedBy", device_id);
  record.emplace("name", name);
  record.emplace("revision", revision);
  return Json(std::move(record));
}

}  // namespace tolvanik
