// `tolvanik_register log`: whether the host keeps its log, where the file
// lies and its last lines; `log on` and `log off` set and clear the switch.
#pragma once

#include <ostream>

#include "bin/tolvanik_register/options.h"

namespace tolvanik::registration {

// The lines of the log shown, at most.
inline constexpr int kLogLinesShown = 20;

// Yields the exit status: 1 when the switch could not be changed.
int run_log(const Options& options, std::ostream& out, std::ostream& errors);

}  // namespace tolvanik::registration
