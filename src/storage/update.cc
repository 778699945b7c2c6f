#include "storage/update.h"

#include <string_view>

#include "platform/clock.h"
#include "storage/storage_file.h"
#include "templates/template_merge.h"

namespace tolvanik {
namespace {

constexpr std::string_view kDefaultDeviceId = "chrome-host";

const Json* member(const Json& object, std::string_view name) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(name);
  return found == object.end() ? nullptr : &*found;
}

std::string device_id_of(const Json& document) {
  const Json* config = member(document, "tolvanik_sync_config");
  const Json* device_id = config ? member(*config, "deviceId") : nullptr;
  return device_id && device_id->is_string() ? device_id->get<std::string>()
                                             : std::string(kDefaultDeviceId);
}

Json::array_t merge_all(const Json::array_t& incoming, const Json& document, double stamp) {
  static const Json kNoTemplates = Json::array();
  const Json* stored = member(document, "tolvanik_templates");
  const StoredTemplateIndex index = build_stored_template_index(stored ? *stored : kNoTemplates);
  const std::string device_id = device_id_of(document);
  Json::array_t merged;
  merged.reserve(incoming.size());
  for (const Json& element : incoming) {
    merged.push_back(merge_template(element, index, stamp, device_id));
  }
  return merged;
}

}  // namespace

double unix_millis_stamp(std::chrono::nanoseconds now_since_epoch) {
  if (now_since_epoch.count() < 0) return 0;
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now_since_epoch).count());
}

std::expected<UpdateOutcome, std::string> update_storage(const std::string& storage_path,
                                                         const Json& message) {
  const Json* templates = member(message, "templates");
  if (!templates || !templates->is_array()) return UpdateOutcome::kNothingToUpdate;
  const Json* active = member(message, "activeTemplateId");
  const Json* last_modified = member(message, "lastModified");
  // Taken before the lock, so that a long wait for it does not move the stamp.
  const double stamp = last_modified && last_modified->is_number()
                           ? last_modified->get<double>()
                           : unix_millis_stamp(platform::system_time_since_epoch());

  const auto lock = lock_storage(storage_path);
  if (!lock) return std::unexpected(lock.error());
  LoadedStorage loaded = load_storage_document(storage_path);
  if (!loaded.document && loaded.storage_file_unreadable) {
    return std::unexpected(
        "Refused: the storage file holds data that is not a JSON object and there is no "
        "readable backup");
  }
  Json document = loaded.document ? std::move(*loaded.document) : Json::object();

  Json::array_t merged = merge_all(templates->get_ref<const Json::array_t&>(), document, stamp);
  document["tolvanik_templates"] = std::move(merged);
  document["tolvanik_active_template"] =
      active && active->is_string() ? active->get<std::string>() : std::string();
  document["tolvanik_last_modified"] = stamp;

  const std::string text = to_pretty_json(document);
  if (auto committed = commit_storage_document(storage_path, text); !committed) {
    return std::unexpected(committed.error());
  }
  return UpdateOutcome::kCommitted;
}

}  // namespace tolvanik
