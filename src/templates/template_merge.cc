#include "templates/template_merge.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/sha256.h"
#include "templates/upper_case.h"

namespace tolvanik {
namespace {

// The member `name` of `object` if it has one of the kind `kind`.
const JsonValue* typed_member(const JsonValue& object, std::string_view name, JsonKind kind) {
  const JsonValue* value = object.find(name);
  return value != nullptr && value->kind() == kind ? value : nullptr;
}

std::string_view string_member(const JsonValue& object, std::string_view name) {
  const JsonValue* value = typed_member(object, name, JsonKind::kString);
  return value ? value->as_string() : std::string_view();
}

bool true_member(const JsonValue& object, std::string_view name) {
  const JsonValue* value = object.find(name);
  return value != nullptr && value->is_true();
}

// The revision after `stored`. Values that are not integers, or that lie
// beyond the signed 64-bit range, start the count again at 1. The largest
// signed value stays where it is: wrapping it would make the record look
// older than it is.
std::int64_t next_revision(const JsonValue* stored) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (stored == nullptr) return 1;
  if (stored->kind() == JsonKind::kUnsigned) {
    const std::uint64_t value = stored->as_unsigned();
    if (value > static_cast<std::uint64_t>(kMax)) return 1;
    return value == static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(value) + 1;
  }
  if (stored->kind() == JsonKind::kSigned) {
    const std::int64_t value = stored->as_signed();
    return value == kMax ? kMax : value + 1;
  }
  return 1;
}

// The members an update replaces, in ascending name order.
constexpr std::array<std::string_view, 7> kReplacedOnUpdate = {
    "colors", "contentHash", "isLocked", "lastModified", "modifiedBy", "name", "revision"};

bool is_replaced_on_update(std::string_view name) {
  return std::binary_search(kReplacedOnUpdate.begin(), kReplacedOnUpdate.end(), name);
}

// `replacements` and the stored members not replaced, merged in name order.
JsonValue updated_record(const JsonValue& stored_record,
                         const std::array<JsonMember, 7>& replacements, JsonArena& arena) {
  const auto stored = stored_record.members();
  const auto record = arena.members(stored.size() + replacements.size());
  std::size_t count = 0;
  auto next_replacement = replacements.begin();
  for (const JsonMember& member : stored) {
    if (is_replaced_on_update(member.name)) continue;
    while (next_replacement != replacements.end() && next_replacement->name < member.name) {
      record[count++] = *next_replacement++;
    }
    record[count++] = member;
  }
  while (next_replacement != replacements.end()) record[count++] = *next_replacement++;
  return JsonValue::sorted_object(record.first(count));
}

}  // namespace

StoredTemplateIndex build_stored_template_index(const JsonValue& stored_templates) {
  StoredTemplateIndex index;
  if (!stored_templates.is_array()) return index;
  index.reserve(stored_templates.elements().size());
  for (const JsonValue& record : stored_templates.elements()) {
    const JsonValue* id = typed_member(record, "id", JsonKind::kString);
    if (id != nullptr) index.insert_or_assign(id->as_string(), &record);
  }
  return index;
}

std::string compute_content_hash(std::string_view name, std::span<const JsonValue> colors) {
  std::string canonical;
  canonical.reserve(name.size() + colors.size() * 32);
  canonical.append(name);
  for (const JsonValue& color : colors) {
    canonical.push_back('|');
    append_upper_case(string_member(color, "id"), canonical);
    canonical.push_back(':');
    canonical.append(string_member(color, "name"));
    canonical.push_back(':');
    canonical.append(string_member(color, "hex"));
    canonical.push_back(':');
    canonical.append(true_member(color, "isAutoNamed") ? "true" : "false");
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

JsonValue merge_template(const JsonValue& incoming, const StoredTemplateIndex& index,
                         double last_modified, std::string_view device_id, JsonArena& arena) {
  const std::string_view id = string_member(incoming, "id");
  const std::string_view name = string_member(incoming, "name");
  const JsonValue* colors_member = typed_member(incoming, "colors", JsonKind::kArray);
  const JsonValue colors = colors_member ? *colors_member : JsonValue::array({});
  const bool is_locked = true_member(incoming, "isLocked");
  const JsonValue content_hash = arena.string(compute_content_hash(name, colors.elements()));
  const JsonValue stamp = JsonValue::number(last_modified);
  const JsonValue device = JsonValue::string(device_id);

  const auto stored = index.find(id);
  if (stored == index.end()) {
    return arena.object({{"colors", colors},
                         {"contentHash", content_hash},
                         {"createdAt", stamp},
                         {"createdBy", device},
                         {"deleted", JsonValue::boolean(false)},
                         {"deletedAt", JsonValue()},
                         {"deletedBy", JsonValue()},
                         {"id", JsonValue::string(id)},
                         {"isLocked", JsonValue::boolean(is_locked)},
                         {"lastModified", stamp},
                         {"modifiedBy", device},
                         {"name", JsonValue::string(name)},
                         {"revision", JsonValue::signed_integer(1)}});
  }
  const JsonValue& stored_record = *stored->second;
  const std::int64_t revision = next_revision(stored_record.find("revision"));
  return updated_record(stored_record,
                        {{{"colors", colors},
                          {"contentHash", content_hash},
                          {"isLocked", JsonValue::boolean(is_locked)},
                          {"lastModified", stamp},
                          {"modifiedBy", device},
                          {"name", JsonValue::string(name)},
                          {"revision", JsonValue::signed_integer(revision)}}},
                        arena);
}

}  // namespace tolvanik
