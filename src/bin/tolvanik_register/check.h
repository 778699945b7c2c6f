// The self-check a person runs when the extension cannot reach the host.
#pragma once

#include <ostream>

#include "bin/tolvanik_register/check_report.h"
#include "bin/tolvanik_register/options.h"
#include "bin/tolvanik_register/sites.h"

namespace tolvanik::registration {

// What every browser of `options` finds in its own order, what its
// policies do to the host, whether the host answers, and how the storage
// file is.
CheckReport gather_check_report(const Options& options, const SiteBase& base);

// Says what keeps the browser from reaching the host, from what it found
// and what its ping brought back; the first problem is the verdict's.
void judge_browser(BrowserFindings& browser);

// Prints the report as text, or as one JSON object with --json; yields the
// exit status, 0 only when at least one browser reaches the host, every
// registered browser does, and the storage file is sound.
int run_check(const Options& options, std::ostream& out);

}  // namespace tolvanik::registration
