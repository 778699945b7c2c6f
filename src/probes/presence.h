// Whether the desktop application is running, asked of the system's
// process list.
#pragma once

namespace tolvanik {

// Runs "tasklist" once per image name the desktop application may run
// under, until one of them is listed. A listing that cannot be had counts
// as "not running".
bool is_desktop_app_running();

}  // namespace tolvanik
