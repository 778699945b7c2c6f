// What check found, gathered into one report before anything is printed,
// so that its text and its JSON say the same.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "bin/tolvanik_register/host_processes.h"
#include "bin/tolvanik_register/lookup.h"
#include "bin/tolvanik_register/policies.h"
#include "bin/tolvanik_register/sites.h"
#include "bin/tolvanik_register/storage_health.h"

namespace tolvanik::registration {

struct PingFinding {
  bool answered = false;
  std::string reply;
  std::int64_t milliseconds = 0;
  std::string error;

  bool operator==(const PingFinding&) const = default;
};

struct BrowserFindings {
  // One browser, or several that found exactly the same: "chrome, vivaldi".
  std::string browser;
  std::vector<Entry> entries;
  std::vector<PolicyFinding> policies;
  std::optional<PingFinding> ping;
  // What keeps this browser from reaching the host; the first is the
  // verdict's.
  std::vector<std::string> problems;

  const Entry* used_entry() const;
  // The browser starts the host and it answers.
  bool reaches_host() const { return problems.empty() && ping && ping->answered; }
  bool same_findings(const BrowserFindings& other) const;
};

// Whether the host writes its log, and where.
struct HostLogState {
  bool on = false;
  std::string path;
  // The switch that is on, as a person would look it up.
  std::string switched_by;
  // How to switch it on where it is off.
  std::string switch_on_hint;
};

struct CheckReport {
  std::string host_name;
  std::vector<BrowserFindings> browsers;
  StorageFindings storage;
  HostLogState log;
  HostProcesses hosts;
  // "OK: ..." or "FAILED: ..."; check's status is 0 only for OK.
  std::string verdict;

  bool ok() const { return verdict.starts_with("OK"); }
};

// One line per finding, each starting with what it is about, then the
// verdict.
void print_text(const CheckReport& report, std::ostream& out);

// `text` with every user folder of `folders` written in its general form;
// a folder matches only where a path component ends.
std::string without_user_folders(std::string_view text, const std::vector<UserFolder>& folders);

// The report as one JSON object, with the user's folders written in their
// general form and nothing of the templates but their number.
void print_json(const CheckReport& report, std::string_view version,
                const std::vector<UserFolder>& folders, std::ostream& out);

}  // namespace tolvanik::registration
