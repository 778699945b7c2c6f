#include "bin/tolvanik_register/storage_health.h"

#include <algorithm>

#include "bin/tolvanik_register/manifest_json.h"
#include "messaging/json.h"
#include "platform/files.h"
#include "storage/location.h"
#include "storage/snapshot.h"
#include "templates/template_view.h"

namespace tolvanik::registration {
namespace {

struct FileRead {
  FileState state = FileState::kMissing;
  std::string error;
  std::uint64_t bytes = 0;
  std::optional<JsonDocument> document;
};

// Sorts the file as the host's tolerant read does; reads, never opens for
// writing.
FileRead read_state(const std::string& path) {
  auto text = platform::read_whole_file(path);
  if (!text) {
    if (!platform::file_exists(path)) return {};
    return {FileState::kUnreadable, text.error(), 0, std::nullopt};
  }
  FileRead read{FileState::kEmpty, "", text->size(), std::nullopt};
  if (text->empty()) return read;
  auto document = parse_json(*text);
  if (!document || !document->root().is_object()) {
    read.state = FileState::kNotAnObject;
  } else if (!document->root().members().empty()) {
    read.state = FileState::kObject;
    read.document = std::move(document);
  }
  return read;
}

// All stored templates, and those the template model hides as deleted.
void count_templates(const JsonDocument& document, StorageFindings& findings) {
  const JsonValue* stored = document.root().find("tolvanik_templates");
  if (stored == nullptr || !stored->is_array()) return;
  JsonArena arena;
  findings.templates = stored->elements().size();
  findings.hidden =
      findings.templates - visible_templates(stored->elements(), arena).elements().size();
}

// A lock file that is not there is held by no one, and is not created here.
LockState try_storage_lock(const std::string& path) {
  const std::string lock_path = sibling_path(path, kLockExtension);
  if (!platform::file_exists(lock_path)) return LockState::kFree;
  const auto file = platform::open_lock_file(lock_path);
  if (!file) return LockState::kUnknown;
  const auto taken = platform::try_lock_whole_file(*file, kLockPatience);
  if (!taken) return LockState::kUnknown;
  if (!*taken) return LockState::kHeld;
  platform::unlock_whole_file(*file);
  return LockState::kFree;
}

void ask_host_status(const StatusAsker& ask_status, StorageFindings& findings) {
  findings.status_source = StatusSource::kHost;
  const auto payload = ask_status();
  if (!payload) return;
  findings.status_bytes = payload->size();
  if (const auto facts = read_status_reply(*payload)) {
    findings.shown = facts->templates;
    findings.desktop_running = facts->desktop_running;
  }
}

// The reply the host would send for `document` (nothing: the empty
// snapshot), from the same template view and compact writer. The desktop
// application is taken as not running: "false" is the longer by one byte.
void reckon_status(std::optional<JsonDocument> document, StorageFindings& findings) {
  StorageSnapshot snapshot =
      document ? snapshot_of_document(std::move(*document)) : StorageSnapshot{};
  JsonArena& arena = snapshot.document.arena();
  const JsonValue reply =
      arena.object({{"activeTemplateId", JsonValue::string(snapshot.active_template_id)},
                    {"isRunning", JsonValue::boolean(false)},
                    {"lastModified", JsonValue::number(snapshot.last_modified)},
                    {"templates", snapshot.templates},
                    {"type", JsonValue::string("status")}});
  findings.status_source = StatusSource::kOwnRead;
  findings.status_bytes = to_compact_json(reply).size();
  findings.shown = snapshot.templates.elements().size();
}

// The name of a file beside the storage file, as messages give it.
std::string name_beside(const StorageFindings& findings, std::string_view extension) {
  return final_component(sibling_path(findings.path, extension));
}

std::string file_problem(const StorageFindings& findings) {
  if (findings.file == FileState::kUnreadable) {
    return "the file cannot be read: " + findings.read_error +
           "; the host leaves it alone and shows no templates";
  }
  return std::string("the file does NOT parse as a JSON object: ") +
         (findings.reads_backup
              ? "the host reads the backup " + name_beside(findings, kBackupExtension) +
                    " instead and puts it back in its place"
              : "there is no readable backup either, so the extension gets no templates");
}

void judge(StorageFindings& findings) {
  if (findings.file == FileState::kUnreadable || findings.file == FileState::kNotAnObject) {
    findings.problems.push_back(file_problem(findings));
  }
  if (findings.backup == FileState::kUnreadable || findings.backup == FileState::kNotAnObject) {
    findings.warnings.push_back("the backup " + name_beside(findings, kBackupExtension) +
                                " does NOT parse as a JSON object");
  }
  if (findings.leftover_temporary) {
    findings.warnings.push_back("a leftover " + name_beside(findings, kTemporaryExtension) +
                                " lies beside it, from a save that did not finish (the next "
                                "save overwrites it)");
  }
  if (findings.lock == LockState::kHeld) {
    const auto patience = std::chrono::duration_cast<std::chrono::seconds>(kLockPatience);
    findings.problems.push_back(
        "the lock " + name_beside(findings, kLockExtension) +
        " is held by another process (tried for " + std::to_string(patience.count()) +
        " s): the host waits until it is let go; end the program that holds it");
  }
  if (findings.network_drive) {
    findings.warnings.push_back(
        "the storage folder is on a network drive: the desktop's changes may not be pushed to "
        "the extension");
  }
  if (!findings.status_bytes) return;
  const auto size = judge_status_size(*findings.status_bytes, findings.shown.value_or(0));
  if (size.level == SizeLevel::kNear) findings.warnings.push_back(size.text);
  if (size.level == SizeLevel::kOver) findings.problems.push_back(size.text);
}

std::string with_thousands(std::size_t number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[at]);
  }
  return grouped;
}

}  // namespace

StorageFindings examine_storage(const std::string& path, const StatusAsker& ask_status) {
  StorageFindings findings;
  findings.path = path;
  FileRead storage = read_state(path);
  FileRead backup = read_state(sibling_path(path, kBackupExtension));
  findings.file = storage.state;
  findings.read_error = storage.error;
  findings.bytes = storage.bytes;
  findings.backup = backup.state;
  // The host falls back to the backup unless the storage file is there but
  // could not be read just now.
  if (storage.document) {
    count_templates(*storage.document, findings);
  } else if (storage.state != FileState::kUnreadable && backup.document) {
    findings.reads_backup = true;
    count_templates(*backup.document, findings);
  }
  findings.leftover_temporary = platform::file_exists(sibling_path(path, kTemporaryExtension));
  findings.network_drive = platform::is_on_network_drive(parent_directory(path));
  findings.lock = try_storage_lock(path);
  // Asked about any other storage file, the host would put the backup in
  // its place, or leave a temporary file of its own: evidence gone, and the
  // next check would judge other files.
  if (findings.lock == LockState::kFree && storage.document && ask_status) {
    ask_host_status(ask_status, findings);
  } else if (findings.lock == LockState::kFree) {
    reckon_status(findings.reads_backup ? std::move(backup.document) : std::move(storage.document),
                  findings);
  }
  judge(findings);
  return findings;
}

SizeVerdict judge_status_size(std::size_t bytes, std::size_t shown) {
  const std::string start = "the status reply is " + with_thousands(bytes) + " bytes, ";
  const std::string limit = "the browsers' " + with_thousands(kBrowserMessageLimit) + "-byte limit";
  const std::string share = std::to_string(bytes * 100 / kBrowserMessageLimit) + " % of " + limit;
  if (bytes * 10 < kBrowserMessageLimit * 9) return SizeVerdict{SizeLevel::kFine, start + share};
  if (bytes <= kBrowserMessageLimit) {
    return SizeVerdict{SizeLevel::kNear,
                       start + share + ": delete templates on the desktop before it is reached"};
  }
  std::string text = start + "over " + limit + ": the extension gets no answer";
  if (shown > 0) {
    const std::size_t per_template = std::max<std::size_t>(bytes / shown, 1);
    const std::size_t excess = bytes - kBrowserMessageLimit;
    text += "; delete about " + std::to_string((excess + per_template - 1) / per_template) +
            " templates on the desktop";
  }
  return SizeVerdict{SizeLevel::kOver, text};
}

}  // namespace tolvanik::registration
