// The reduced views of stored templates that the extension receives.
#pragma once

#include "messaging/json.h"

namespace tolvanik {

// The colour view of one stored colour entry: exactly "hex", "id",
// "isAutoNamed", "isLocked" and "name". A member the entry has is copied
// whatever its type; a missing one is "" (hex, id, name) or false.
Json normalize_color(const Json& entry);

// The template view of one stored template: exactly "colors", "id",
// "isLocked" and "name", with every colour passed through normalize_color.
// "colors" is [] unless the template holds an array there. A value that is
// not an object comes back as an unchanged copy.
Json normalize_template(const Json& stored_template);

// The views of the stored templates whose "deleted" is not the boolean true,
// in stored order. Elements that are not objects are never hidden.
Json::array_t visible_templates(const Json::array_t& stored_templates);

}  // namespace tolvanik
