// The content fingerprint of a template and the record stored for each
// template the extension writes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "messaging/json.h"

namespace tolvanik {

// Stored template records by their "id". Keys and values point into the
// stored document, which must outlive the index and stay unchanged while it
// is in use.
using StoredTemplateIndex = std::unordered_map<std::string_view, const JsonValue*>;

// Indexes the elements of `stored_templates` (the stored template array)
// whose "id" is a string; of two with the same id the later one wins. A value
// that is not an array gives an empty index.
StoredTemplateIndex build_stored_template_index(const JsonValue& stored_templates);

// SHA-256 of `name` followed, per colour, by "|", the colour's "id"
// upper-cased, ":", its "name", ":", its "hex", ":" and "true" or "false"
// for its "isAutoNamed"; as 64 lowercase hex digits. Members that are not
// strings count as empty; "isAutoNamed" is "true" only for the boolean true.
std::string compute_content_hash(std::string_view name, std::span<const JsonValue> colors);

// The record to store for one incoming template, built in `arena`. When
// `index` holds a record with the incoming "id", that record's members are
// kept and its name, colours, lock flag, content hash, modification stamp
// and device, and revision are replaced; otherwise a new record with
// revision 1 is built. Incoming members of the wrong type count as absent
// ("", [], false). The record shares the incoming colours, the stored
// members and `device_id`, which must outlive it.
JsonValue merge_template(const JsonValue& incoming, const StoredTemplateIndex& index,
                         double last_modified, std::string_view device_id, JsonArena& arena);

}  // namespace tolvanik
