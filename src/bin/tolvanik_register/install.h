// Writing and removing a registration.
#pragma once

#include <expected>
#include <string>
#include <vector>

#include "bin/tolvanik_register/options.h"
#include "bin/tolvanik_register/sites.h"

namespace tolvanik::registration {

// The sites' base on this system, for a host in `host_directory`.
SiteBase this_system_base(const std::string& host_directory);

// Writes the manifest and, where the system has one, the registry keys.
// Yields one line per thing written; on failure everything written so far
// is put back as it was and the error names what to fix.
std::expected<std::vector<std::string>, std::string> install(const Options& options);

// Removes what install wrote for the same name, browsers and scope; what is
// already gone is passed over. Yields one line per thing removed.
std::expected<std::vector<std::string>, std::string> uninstall(const Options& options);

}  // namespace tolvanik::registration
