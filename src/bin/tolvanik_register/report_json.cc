// check --json: the report as one JSON object that can be posted as it is.

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "bin/tolvanik_register/check_report.h"
#include "messaging/json.h"
#include "platform/user_folders.h"

namespace tolvanik::registration {
namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Characters that go on a file name rather than end it.
bool continues_name(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80 ||
         c == '.' || c == '-' || c == '_' || c == '~' || c == '$';
}

// Where `folder` ends when it is written at the start of `text`, in any
// letter case and with either separator, runs of them counting as one;
// nothing when it is not written there.
std::optional<std::size_t> folder_end(std::string_view text, std::string_view folder) {
  std::size_t at = 0;
  for (std::size_t index = 0; index < folder.size(); ++index) {
    if (at == text.size()) return std::nullopt;
    if (is_separator(folder[index])) {
      if (!is_separator(text[at])) return std::nullopt;
      while (at < text.size() && is_separator(text[at])) ++at;
      while (index + 1 < folder.size() && is_separator(folder[index + 1])) ++index;
      continue;
    }
    if (std::tolower(static_cast<unsigned char>(text[at])) !=
        std::tolower(static_cast<unsigned char>(folder[index]))) {
      return std::nullopt;
    }
    ++at;
  }
  if (at < text.size() && continues_name(text[at])) return std::nullopt;
  return at;
}

// Builds the JSON values in one arena, every text with the user's folders
// written in their general form.
class JsonBuilder {
 public:
  explicit JsonBuilder(const std::vector<UserFolder>& folders) : folders_(folders) {}

  JsonValue text(std::string_view value) {
    return arena_.string(without_user_folders(value, folders_));
  }
  // A path written with short names is matched in its long form.
  JsonValue path(const std::string& value) { return text(platform::long_path_form(value)); }
  JsonValue texts(const std::vector<std::string>& values) {
    std::vector<JsonValue> elements;
    for (const std::string& value : values) elements.push_back(text(value));
    return arena_.array(elements);
  }
  JsonValue list(const std::vector<JsonValue>& elements) { return arena_.array(elements); }
  JsonValue object(std::initializer_list<JsonMember> members) { return arena_.object(members); }
  static JsonValue number(std::uint64_t value) { return JsonValue::unsigned_integer(value); }
  static JsonValue flag(bool value) { return JsonValue::boolean(value); }

 private:
  const std::vector<UserFolder>& folders_;
  JsonArena arena_;
};

std::string_view role_name(EntryRole role) {
  switch (role) {
    case EntryRole::kUsed:
      return "used";
    case EntryRole::kShadowed:
      return "shadowed";
    case EntryRole::kIgnored:
      return "ignored";
    case EntryRole::kSkipped:
      return "passed over";
  }
  return "";
}

JsonValue entry_json(const Entry& entry, JsonBuilder& json) {
  return json.object({{"where", json.path(entry.where)},
                      {"manifest", json.path(entry.manifest_path)},
                      {"host", json.path(entry.manifest ? entry.manifest->path : "")},
                      {"state", JsonValue::string(role_name(entry.role))},
                      {"used", JsonBuilder::flag(entry.role == EntryRole::kUsed)},
                      {"problems", json.texts(entry.problems)}});
}

JsonValue ping_json(const std::optional<PingFinding>& ping, JsonBuilder& json) {
  if (!ping) return JsonValue();
  if (!ping->answered) {
    return json.object({{"answered", JsonBuilder::flag(false)}, {"error", json.text(ping->error)}});
  }
  return json.object(
      {{"answered", JsonBuilder::flag(true)},
       {"reply", json.text(ping->reply)},
       {"milliseconds", JsonBuilder::number(static_cast<std::uint64_t>(ping->milliseconds))}});
}

JsonValue browser_json(const BrowserFindings& browser, JsonBuilder& json) {
  std::vector<JsonValue> entries;
  for (const Entry& entry : browser.entries) entries.push_back(entry_json(entry, json));
  std::vector<JsonValue> policies;
  for (const PolicyFinding& policy : browser.policies) {
    policies.push_back(json.object({{"name", json.text(policy.name)},
                                    {"where", json.text(policy.where)},
                                    {"value", json.text(policy.value)},
                                    {"effect", json.text(policy.effect)}}));
  }
  return json.object({{"browser", json.text(browser.browser)},
                      {"ok", JsonBuilder::flag(browser.reaches_host())},
                      {"registered", JsonBuilder::flag(!browser.entries.empty())},
                      {"entries", json.list(entries)},
                      {"policies", json.list(policies)},
                      {"ping", ping_json(browser.ping, json)},
                      {"problems", json.texts(browser.problems)}});
}

std::string_view lock_name(LockState lock) {
  return lock == LockState::kFree ? "free" : lock == LockState::kHeld ? "held" : "unknown";
}

JsonValue status_source_json(StatusSource source) {
  if (source == StatusSource::kNone) return JsonValue();
  return JsonValue::string(source == StatusSource::kHost ? "host" : "files");
}

JsonValue optional_number(const std::optional<std::size_t>& value) {
  return value ? JsonBuilder::number(*value) : JsonValue();
}

JsonValue storage_json(const StorageFindings& storage, JsonBuilder& json) {
  const auto parses = [](FileState state) {
    return JsonBuilder::flag(state == FileState::kObject || state == FileState::kEmpty);
  };
  const JsonValue backup =
      json.object({{"present", JsonBuilder::flag(storage.backup != FileState::kMissing)},
                   {"parses", parses(storage.backup)}});
  return json.object(
      {{"ok", JsonBuilder::flag(storage.ok())},
       {"path", json.path(storage.path)},
       {"exists", JsonBuilder::flag(storage.file != FileState::kMissing)},
       {"bytes", JsonBuilder::number(storage.bytes)},
       {"parses", parses(storage.file)},
       {"readsBackup", JsonBuilder::flag(storage.reads_backup)},
       {"templates", JsonBuilder::number(storage.templates)},
       {"hidden", JsonBuilder::number(storage.hidden)},
       {"shown", optional_number(storage.shown)},
       {"statusBytes", optional_number(storage.status_bytes)},
       {"statusFrom", status_source_json(storage.status_source)},
       {"statusLimit", JsonBuilder::number(kBrowserMessageLimit)},
       {"backup", backup},
       {"leftoverTemporary", JsonBuilder::flag(storage.leftover_temporary)},
       {"lock", JsonValue::string(lock_name(storage.lock))},
       {"networkDrive", JsonBuilder::flag(storage.network_drive)},
       {"desktopRunning",
        storage.desktop_running ? JsonBuilder::flag(*storage.desktop_running) : JsonValue()},
       {"problems", json.texts(storage.problems)},
       {"warnings", json.texts(storage.warnings)}});
}

}  // namespace

std::string without_user_folders(std::string_view text, const std::vector<UserFolder>& folders) {
  std::string result;
  std::size_t at = 0;
  while (at < text.size()) {
    std::optional<std::size_t> end;
    const auto folder = std::ranges::find_if(folders, [&](const UserFolder& candidate) {
      if (candidate.path.size() < 2 || (at > 0 && continues_name(text[at - 1]))) return false;
      end = folder_end(text.substr(at), candidate.path);
      return end.has_value();
    });
    if (folder == folders.end()) {
      result.push_back(text[at++]);
      continue;
    }
    result += folder->written;
    at += *end;
  }
  return result;
}

void print_json(const CheckReport& report, std::string_view version,
                const std::vector<UserFolder>& folders, std::ostream& out) {
  JsonBuilder json(folders);
  std::vector<JsonValue> browsers;
  for (const BrowserFindings& browser : report.browsers) {
    browsers.push_back(browser_json(browser, json));
  }
  const JsonValue log =
      json.object({{"on", JsonBuilder::flag(report.log.on)}, {"path", json.path(report.log.path)}});
  const JsonValue hosts =
      json.object({{"count", JsonBuilder::number(report.hosts.count)},
                   {"oldestSeconds",
                    JsonBuilder::number(static_cast<std::uint64_t>(report.hosts.oldest_seconds))}});
  const JsonValue root = json.object({{"version", json.text(version)},
                                      {"name", json.text(report.host_name)},
                                      {"ok", JsonBuilder::flag(report.ok())},
                                      {"verdict", json.text(report.verdict)},
                                      {"browsers", json.list(browsers)},
                                      {"storage", storage_json(report.storage, json)},
                                      {"log", log},
                                      {"hostProcesses", hosts}});
  out << to_pretty_json(root) << "\n";
}

}  // namespace tolvanik::registration
