// Who started the host: the browsers name the calling extension in the
// host's arguments. Chromium-family browsers pass its origin (and on
// Windows a "--parent-window=" option after it); Firefox passes the
// manifest's path and the add-on's id.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tolvanik {

// The first argument that is an origin or an add-on id of the right form,
// or the one tolvanik_register check starts its hosts with; nothing when
// none is. Nothing else of the command line is looked at.
std::optional<std::string_view> caller_from_arguments(std::span<char* const> arguments);

}  // namespace tolvanik
