// The conversation while the desktop application runs.
#pragma once

#include <string>

namespace tolvanik {

// Answers requests until the input ends.
void run_event_loop(const std::string& storage_path);

}  // namespace tolvanik
