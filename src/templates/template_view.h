// The reduced views of stored templates that the extension receives. Views
// are built in `arena` and share the stored values they copy.
#pragma once

#include <span>

#include "messaging/json.h"

namespace tolvanik {

// The colour view of one stored colour entry: exactly "hex", "id",
// "isAutoNamed", "isLocked" and "name". A member the entry has is copied
// whatever its type; a missing one is "" (hex, id, name) or false.
JsonValue normalize_color(const JsonValue& entry, JsonArena& arena);

// The template view of one stored template: exactly "colors", "id",
// "isLocked" and "name", with every colour passed through normalize_color.
// "colors" is [] unless the template holds an array there. A value that is
// not an object comes back unchanged.
JsonValue normalize_template(const JsonValue& stored_template, JsonArena& arena);

// The array of the views of the stored templates whose "deleted" is not the
// boolean true, in stored order. Elements that are not objects are never
// hidden.
JsonValue visible_templates(std::span<const JsonValue> stored_templates, JsonArena& arena);

}  // namespace tolvanik
