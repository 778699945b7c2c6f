#include "bin/tolvanik_register/check.h"

#include <chrono>
#include <cstdint>
#include <optional>

#include "bin/tolvanik_register/install.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "storage/location.h"

namespace tolvanik::registration {
namespace {

using namespace std::chrono_literals;

// Generous: a cold start under a busy system or an emulator takes seconds.
constexpr auto kHostTimeout = 20s;

struct Registration {
  std::string where;
  std::string manifest_path;
};

struct Answer {
  std::string payload;
  std::chrono::milliseconds round_trip{};
};

bool is_absolute(std::string_view path) {
  if (path.starts_with('/') || path.starts_with("\\\\")) return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string frame_of(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<char>(length >> shift));
  frame.append(payload);
  return frame;
}

std::optional<Registration> find_in_registry(const RegistryEntry& user_entry) {
  for (const Scope scope : kLookupOrder) {
    const RegistryEntry entry{scope == Scope::kUser ? platform::RegistryHive::kCurrentUser
                                                    : platform::RegistryHive::kLocalMachine,
                              user_entry.key};
    const auto value =
        platform::read_registry_default(entry.hive, entry.key, platform::RegistryView::kOwn);
    if (value && *value) return Registration{registry_path_text(entry), **value};
  }
  return std::nullopt;
}

std::optional<Registration> find_registration(const Site& user_site, const Site& system_site) {
  if (user_site.registry) return find_in_registry(*user_site.registry);
  for (const Site* site : {&user_site, &system_site}) {
    if (platform::file_exists(site->manifest_path)) {
      return Registration{site->manifest_path, site->manifest_path};
    }
  }
  return std::nullopt;
}

struct LoadedManifest {
  Manifest manifest;
  std::string manifest_path;
};

struct HostRun {
  std::vector<std::string> arguments;
  std::string working_directory;
};

// The arguments and working folder the manifest's browser gives the host.
HostRun browser_start(const LoadedManifest& loaded) {
  const Manifest& manifest = loaded.manifest;
  if (manifest.family->host_start == HostStart::kManifestAndIdInBrowserFolder) {
    return {{loaded.manifest_path, manifest.allowed.front()}, "."};
  }
  return {{manifest.allowed.front()}, directory_of(manifest.path, platform::kPathSeparator)};
}

std::expected<Answer, std::string> ask_host(const LoadedManifest& loaded,
                                            std::string_view request) {
  const Manifest& manifest = loaded.manifest;
  const auto started = platform::monotonic_now();
  const HostRun start = browser_start(loaded);
  const auto run = platform::run_with_input(manifest.path, start.arguments, start.working_directory,
                                            frame_of(request), kHostTimeout);
  if (!run) return std::unexpected("the host could not be started: " + run.error());
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonic_now() - started);
  auto payload = first_frame_payload(run->output);
  if (!payload) {
    if (!run->exit_status) return std::unexpected("the host did not answer within 20 s");
    return std::unexpected("the host exited with status " + std::to_string(*run->exit_status) +
                           " without an answer");
  }
  return Answer{std::move(*payload), elapsed};
}

std::expected<LoadedManifest, std::string> load_manifest(const Registration& registration,
                                                         const Family& family,
                                                         const Options& options,
                                                         const SiteBase& base) {
  const auto text = platform::read_whole_file(registration.manifest_path);
  if (!text) return std::unexpected("cannot read the manifest: " + text.error());
  auto manifest = read_manifest(*text, family);
  if (!manifest) return std::unexpected("the manifest is invalid: " + manifest.error());
  manifest->path =
      host_seen_by_browser(manifest->path, registration.manifest_path, base.relative_host_paths);
  const auto problems =
      manifest_problems(*manifest, options.name, platform::is_regular_file(manifest->path));
  if (!problems.empty()) return std::unexpected("the manifest is invalid: " + problems.front());
  return LoadedManifest{std::move(*manifest), registration.manifest_path};
}

// Checks one browser's registration; yields the manifest of a host that
// answered, nothing when the browser has no registration, or the problem.
std::expected<std::optional<LoadedManifest>, std::string> check_site(const Site& user_site,
                                                                     const Site& system_site,
                                                                     const Options& options,
                                                                     const SiteBase& base,
                                                                     std::ostream& out) {
  const std::string& label = user_site.browsers;
  const auto registration = find_registration(user_site, system_site);
  if (!registration) {
    out << label << ": not registered\n";
    return std::nullopt;
  }
  out << label << ": registered at " << registration->where << "\n";
  if (registration->where != registration->manifest_path) {
    out << label << ": manifest " << registration->manifest_path << "\n";
  }
  auto manifest = load_manifest(*registration, *user_site.family, options, base);
  if (!manifest) {
    out << label << ": " << manifest.error() << "\n";
    return std::unexpected(manifest.error());
  }
  out << label << ": manifest valid; host " << manifest->manifest.path << "\n";
  const auto answer = ask_host(*manifest, R"({"type":"ping"})");
  if (!answer) {
    out << label << ": ping failed: " << answer.error() << "\n";
    return std::unexpected(answer.error());
  }
  out << label << ": ping answered " << answer->payload << " in " << answer->round_trip.count()
      << " ms\n";
  if (reply_type(answer->payload) != "pong") return std::unexpected("the host answered no pong");
  return std::optional<LoadedManifest>(std::move(*manifest));
}

void report_storage(const LoadedManifest& manifest, std::ostream& out) {
  const std::string path = storage_path_from_environment();
  out << "storage: " << path << "\n";
  const auto text = platform::read_whole_file(path);
  if (!platform::file_exists(path)) {
    out << "storage: no file yet (the desktop application has not saved)\n";
  } else if (!text) {
    out << "storage: the file cannot be read: " << text.error() << "\n";
  } else {
    out << "storage: the file " << (is_json_document(*text) ? "parses" : "does NOT parse as JSON")
        << "\n";
  }
  const auto answer = ask_host(manifest, R"({"type":"getStatus"})");
  const auto facts = answer ? read_status_reply(answer->payload) : std::nullopt;
  if (!facts) {
    out << "storage: the host gave no status reply\n";
    return;
  }
  out << "storage: " << facts->templates << " templates shown to the extension\n";
  out << "desktop application: " << (facts->desktop_running ? "running" : "not seen running")
      << "\n";
}

}  // namespace

std::vector<std::string> manifest_problems(const Manifest& manifest, std::string_view expected_name,
                                           bool host_exists) {
  std::vector<std::string> problems;
  if (manifest.name != expected_name) {
    problems.push_back("\"name\" is \"" + manifest.name + "\", not \"" +
                       std::string(expected_name) + "\"");
  }
  if (manifest.type != "stdio") problems.push_back("\"type\" is not \"stdio\"");
  if (!is_absolute(manifest.path)) {
    problems.push_back("\"path\" " + manifest.path + " is not absolute");
  } else if (!host_exists) {
    problems.push_back("\"path\" " + manifest.path + " does not exist");
  }
  const Family& family = *manifest.family;
  if (manifest.allowed.empty()) {
    problems.push_back(quoted(family.allowed_key) + " is empty");
  }
  for (const auto& entry : manifest.allowed) {
    if (!family.is_valid_entry(entry)) {
      problems.push_back(std::string(family.entry_name) + " \"" + entry + "\" is malformed");
    }
  }
  return problems;
}

std::string host_seen_by_browser(const std::string& host_path, const std::string& manifest_path,
                                 bool relative_allowed) {
  if (!relative_allowed || host_path.empty() || is_absolute(host_path)) return host_path;
  return directory_of(manifest_path, '\\') + '\\' + host_path;
}

std::optional<std::string> first_frame_payload(std::string_view output) {
  if (output.size() < 4) return std::nullopt;
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(output[i]);
  if (output.size() - 4 < length) return std::nullopt;
  return std::string(output.substr(4, length));
}

int run_check(const Options& options, std::ostream& out) {
  const SiteBase base = this_system_base(std::string());
  Options all_users = options;
  all_users.all_users = true;
  const auto user_sites = registration_sites(options, base);
  const auto system_sites = registration_sites(all_users, base);
  std::optional<LoadedManifest> answering;
  std::vector<std::string> answered;
  std::string first_problem;
  for (std::size_t i = 0; i < user_sites.size(); ++i) {
    const auto result = check_site(user_sites[i], system_sites[i], options, base, out);
    if (!result) {
      if (first_problem.empty()) first_problem = user_sites[i].browsers + ": " + result.error();
    } else if (*result) {
      if (!answering) answering = **result;
      answered.push_back(user_sites[i].browsers);
    }
  }
  if (answering) report_storage(*answering, out);
  if (!first_problem.empty()) {
    out << "verdict: FAILED: " << first_problem << "\n";
    return 1;
  }
  if (answered.empty()) {
    out << "verdict: FAILED: " << options.name
        << " is registered for no browser: run tolvanik_register install\n";
    return 1;
  }
  std::string names;
  for (const auto& name : answered) names += (names.empty() ? "" : ", ") + name;
  out << "verdict: OK: the host answers for " << names << "\n";
  return 0;
}

}  // namespace tolvanik::registration
