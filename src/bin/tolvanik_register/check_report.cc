#include "bin/tolvanik_register/check_report.h"

#include <algorithm>

namespace tolvanik::registration {
namespace {

std::string place_and_manifest(const Entry& entry) {
  if (entry.where == entry.manifest_path) return entry.where;
  return entry.where + " names " + entry.manifest_path;
}

void print_entry(const std::string& label, const Entry& entry, std::ostream& out) {
  const std::string verdict =
      entry.problems.empty() ? std::string("valid") : entry.problems.front();
  switch (entry.role) {
    case EntryRole::kUsed:
      out << label << ": registered at " << entry.where << "\n";
      if (entry.where != entry.manifest_path) {
        out << label << ": manifest " << entry.manifest_path << "\n";
      }
      for (const std::string& problem : entry.problems) out << label << ": " << problem << "\n";
      if (entry.problems.empty()) {
        out << label << ": manifest valid; host " << entry.manifest->path << "\n";
      }
      return;
    case EntryRole::kShadowed:
      out << label << ": shadowed, not used: " << place_and_manifest(entry) << ": " << verdict
          << "\n";
      return;
    case EntryRole::kIgnored:
      out << label << ": ignored by policy: " << place_and_manifest(entry) << "\n";
      return;
    case EntryRole::kSkipped:
      out << label << ": passed over: " << entry.where << "\n";
      for (const std::string& problem : entry.problems) out << label << ": " << problem << "\n";
      return;
  }
}

// Whether an entry, policy or ping line above already says `problem`.
bool shown_above(const BrowserFindings& browser, const std::string& problem) {
  const bool in_entry = std::ranges::any_of(browser.entries, [&](const Entry& entry) {
    return entry.role != EntryRole::kShadowed &&
           std::ranges::find(entry.problems, problem) != entry.problems.end();
  });
  return in_entry ||
         std::ranges::find(browser.policies, problem, &PolicyFinding::effect) !=
             browser.policies.end() ||
         (browser.ping && browser.ping->error == problem);
}

void print_browser(const BrowserFindings& browser, std::ostream& out) {
  const std::string& label = browser.browser;
  for (const PolicyFinding& policy : browser.policies) {
    out << label << ": policy " << policy.name << (policy.value.empty() ? "" : " ") << policy.value
        << " at " << policy.where << ": " << policy.effect << "\n";
  }
  if (browser.entries.empty()) out << label << ": not registered\n";
  for (const Entry& entry : browser.entries) print_entry(label, entry, out);
  if (browser.ping && browser.ping->answered) {
    out << label << ": ping answered " << browser.ping->reply << " in "
        << browser.ping->milliseconds << " ms\n";
  } else if (browser.ping) {
    out << label << ": ping failed: " << browser.ping->error << "\n";
  }
  for (const std::string& problem : browser.problems) {
    if (!shown_above(browser, problem)) out << label << ": " << problem << "\n";
  }
}

std::string file_line(const StorageFindings& storage) {
  switch (storage.file) {
    case FileState::kMissing:
      return "no file yet (the desktop application has not saved)";
    case FileState::kEmpty:
      return "the file holds nothing yet (empty, or {})";
    case FileState::kObject:
      return "the file parses as a JSON object (" + std::to_string(storage.bytes) + " bytes; " +
             std::to_string(storage.templates) + " templates, " + std::to_string(storage.hidden) +
             " of them hidden as deleted)";
    case FileState::kUnreadable:
    case FileState::kNotAnObject:
      break;
  }
  return "";
}

void print_storage(const StorageFindings& storage, std::ostream& out) {
  out << "storage: " << storage.path << "\n";
  if (const std::string line = file_line(storage); !line.empty()) {
    out << "storage: " << line << "\n";
  }
  if (storage.reads_backup) {
    out << "storage: the host reads the backup storage.json.bak (" << storage.templates
        << " templates, " << storage.hidden << " of them hidden as deleted)\n";
  }
  if (storage.backup == FileState::kMissing) out << "storage: no backup storage.json.bak yet\n";
  if (storage.backup == FileState::kObject) out << "storage: the backup storage.json.bak parses\n";
  if (storage.lock == LockState::kFree) out << "storage: the lock storage.json.lock is free\n";
  if (storage.lock == LockState::kUnknown) out << "storage: the lock could not be tried\n";
  for (const std::string& problem : storage.problems) out << "storage: " << problem << "\n";
  for (const std::string& warning : storage.warnings)
    out << "storage: warning: " << warning << "\n";
  if (storage.shown) out << "storage: " << *storage.shown << " templates shown to the extension\n";
  if (storage.status_bytes) {
    const auto size = judge_status_size(*storage.status_bytes, 0);
    if (size.level == SizeLevel::kFine) out << "storage: " << size.text << "\n";
  }
  if (storage.status_source == StatusSource::kHost && !storage.status_bytes) {
    out << "storage: the host gave no status reply\n";
  }
  if (storage.status_source == StatusSource::kOwnRead) {
    out << "storage: the status reply is reckoned from these files, the host not asked\n";
  }
  if (storage.status_source == StatusSource::kNone) {
    out << "storage: the status reply cannot be known while the lock is not free\n";
  }
  if (storage.desktop_running) {
    out << "desktop application: " << (*storage.desktop_running ? "running" : "not seen running")
        << "\n";
  }
}

void print_log(const HostLogState& log, std::ostream& out) {
  if (log.on) {
    out << "log: on (" << log.switched_by << "), " << log.path << "\n";
  } else {
    out << "log: off; " << log.switch_on_hint << "\n";
  }
}

}  // namespace

const Entry* BrowserFindings::used_entry() const {
  const auto used = std::ranges::find(entries, EntryRole::kUsed, &Entry::role);
  return used == entries.end() ? nullptr : &*used;
}

bool BrowserFindings::same_findings(const BrowserFindings& other) const {
  return entries == other.entries && policies == other.policies && ping == other.ping &&
         problems == other.problems;
}

void print_text(const CheckReport& report, std::ostream& out) {
  for (const BrowserFindings& browser : report.browsers) print_browser(browser, out);
  print_storage(report.storage, out);
  print_log(report.log, out);
  out << "hosts: " << describe(report.hosts) << "\n";
  out << "verdict: " << report.verdict << "\n";
}

}  // namespace tolvanik::registration
