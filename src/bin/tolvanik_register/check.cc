#include "bin/tolvanik_register/check.h"

#include <algorithm>
#include <map>

#include "bin/tolvanik_register/host_run.h"
#include "bin/tolvanik_register/install.h"
#include "host_log/setting.h"
#include "platform/registry.h"
#include "storage/location.h"
#include "tolvanik_version.h"

namespace tolvanik::registration {
namespace {

HostLogState host_log_state() {
  HostLogSetting setting = host_log_setting();
  // Without a registry only the browser's environment switches it.
  std::string hint = platform::has_registry()
                         ? "tolvanik_register log on switches it on"
                         : "set " + std::string(kLogSwitchVariable) + "=1 where the browser starts";
  return {setting.on, std::move(setting.path), std::move(setting.switched_by), std::move(hint)};
}

BrowserFindings find_for_browser(const Browser& browser, const Options& options,
                                 const SiteBase& base) {
  BrowserFindings findings;
  findings.browser = browser.id;
  findings.entries =
      find_entries(lookup_places(browser, options.name, base), *browser.family, options.name, base);
  const bool has_user_entries = std::ranges::any_of(
      findings.entries, [](const Entry& entry) { return entry.scope == Scope::kUser; });
  PolicyOutcome policies =
      weigh_policies(read_policies(browser, base), options.name, has_user_entries);
  assign_roles(findings.entries, *browser.family, policies.user_level_allowed);
  findings.policies = std::move(policies.findings);
  const Entry* used = findings.used_entry();
  if (base.uses_registry && used && used->manifest) {
    const bool per_user =
        without_user_folders(used->manifest->path, base.user_folders) != used->manifest->path;
    if (auto rules = program_rules_finding(per_user)) findings.policies.push_back(*rules);
  }
  return findings;
}

BrowserFindings find_for_profile(const Options& options, const SiteBase& base) {
  BrowserFindings findings;
  findings.browser = "profile";
  const LookupPlace place = profile_place(*options.profile, options.name, base.separator);
  findings.entries = find_entries({&place, 1}, kChromiumFamily, options.name, base);
  assign_roles(findings.entries, kChromiumFamily, true);
  return findings;
}

// Starts each host once, however many browsers use its manifest.
void ping_used_host(BrowserFindings& browser, std::map<std::string, PingFinding>& pings) {
  const Entry* used = browser.used_entry();
  if (!used || !used->problems.empty()) return;
  auto known = pings.find(used->manifest_path);
  if (known == pings.end()) {
    const auto answer = ask_host(*used->manifest, used->manifest_path, R"({"type":"ping"})");
    PingFinding ping{answer.has_value(), answer ? answer->payload : "",
                     answer ? answer->round_trip.count() : 0, answer ? "" : answer.error()};
    known = pings.emplace(used->manifest_path, std::move(ping)).first;
  }
  browser.ping = known->second;
}

// Browsers that found exactly the same are told as one: "chrome, vivaldi".
std::vector<BrowserFindings> merge_same(std::vector<BrowserFindings> all) {
  std::vector<BrowserFindings> merged;
  for (BrowserFindings& browser : all) {
    const auto same = std::ranges::find_if(
        merged, [&](const BrowserFindings& other) { return other.same_findings(browser); });
    if (same == merged.end()) {
      merged.push_back(std::move(browser));
    } else {
      same->browser += ", " + browser.browser;
    }
  }
  return merged;
}

StatusAsker status_asker(const std::vector<BrowserFindings>& browsers) {
  const auto answering = std::ranges::find_if(browsers, &BrowserFindings::reaches_host);
  if (answering == browsers.end()) return nullptr;
  const Entry& used = *answering->used_entry();
  return [manifest = *used.manifest, path = used.manifest_path]() -> std::optional<std::string> {
    const auto answer = ask_host(manifest, path, R"({"type":"getStatus"})");
    if (!answer) return std::nullopt;
    return answer->payload;
  };
}

std::string verdict_of(const CheckReport& report) {
  std::string answering;
  for (const BrowserFindings& browser : report.browsers) {
    if (!browser.problems.empty()) {
      return "FAILED: " + browser.browser + ": " + browser.problems.front();
    }
    if (browser.reaches_host()) answering += (answering.empty() ? "" : ", ") + browser.browser;
  }
  if (answering.empty()) {
    return "FAILED: " + report.host_name +
           " is registered for no browser: run tolvanik_register install";
  }
  if (!report.storage.ok()) return "FAILED: storage: " + report.storage.problems.front();
  return "OK: the host answers for " + answering;
}

}  // namespace

void judge_browser(BrowserFindings& browser) {
  for (const PolicyFinding& policy : browser.policies) {
    if (policy.stops_host) browser.problems.push_back(policy.effect);
  }
  const Entry* used = browser.used_entry();
  if (used == nullptr) {
    const auto user_level =
        std::ranges::find(browser.policies, kUserLevelHostsPolicy, &PolicyFinding::name);
    const bool ignored = std::ranges::any_of(
        browser.entries, [](const Entry& entry) { return entry.role == EntryRole::kIgnored; });
    const auto skipped = std::ranges::find(browser.entries, EntryRole::kSkipped, &Entry::role);
    if (ignored && user_level != browser.policies.end()) {
      browser.problems.push_back(user_level->effect);
    } else if (skipped != browser.entries.end()) {
      browser.problems.push_back(skipped->problems.front());
    }
    return;
  }
  if (!used->problems.empty()) {
    const auto valid = std::ranges::find_if(browser.entries, [](const Entry& entry) {
      return entry.role == EntryRole::kShadowed && entry.problems.empty();
    });
    if (valid != browser.entries.end()) {
      browser.problems.push_back("remove " + used->where +
                                 ": the browser uses it instead of the valid registration at " +
                                 valid->where);
    }
    browser.problems.push_back(used->problems.front());
  } else if (browser.ping && !browser.ping->answered) {
    browser.problems.push_back(browser.ping->error);
  } else if (browser.ping && reply_type(browser.ping->reply) != "pong") {
    browser.problems.push_back("the host answered no pong");
  }
}

CheckReport gather_check_report(const Options& options, const SiteBase& base) {
  std::vector<BrowserFindings> all;
  if (options.profile) {
    all.push_back(find_for_profile(options, base));
  } else {
    for (const Browser* browser : options.browsers) {
      all.push_back(find_for_browser(*browser, options, base));
    }
  }
  std::map<std::string, PingFinding> pings;
  for (BrowserFindings& browser : all) {
    ping_used_host(browser, pings);
    judge_browser(browser);
  }
  CheckReport report;
  report.host_name = options.name;
  report.browsers = merge_same(std::move(all));
  report.storage = examine_storage(storage_path_from_environment(), status_asker(report.browsers));
  report.log = host_log_state();
  report.hosts = count_host_processes();
  report.verdict = verdict_of(report);
  return report;
}

int run_check(const Options& options, std::ostream& out) {
  const SiteBase base = this_system_base(std::string());
  const CheckReport report = gather_check_report(options, base);
  if (options.json) {
    print_json(report, TOLVANIK_VERSION, base.user_folders, out);
  } else {
    print_text(report, out);
  }
  return report.ok() ? 0 : 1;
}

}  // namespace tolvanik::registration
