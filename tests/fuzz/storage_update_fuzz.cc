// Any stored document and any incoming message through the merge that an
// update commits, written by the update's own writer in pieces of any size.
// The new document must parse, keep every member the host does not own
// exactly as it was, hold one record per incoming template, and leave the
// desktop's own members of a matched record untouched.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "messaging/json.h"
#include "storage/update.h"

namespace {

using tolvanik::JsonDocument;
using tolvanik::JsonValue;

void require(bool condition) {
  if (!condition) std::abort();
}

std::string text_of(const JsonValue* value) {
  return value ? tolvanik::to_compact_json(*value) : std::string("absent");
}

// Keeps every piece the writer hands over, as the file would.
class TextSink final : public tolvanik::JsonSink {
 public:
  bool take(std::string_view piece) override {
    require(!piece.empty());
    text.append(piece);
    return true;
  }
  std::string text;
};

bool is_host_member(std::string_view name) {
  return name == "tolvanik_templates" || name == "tolvanik_active_template" ||
         name == "tolvanik_last_modified";
}

// Members an update of a record rewrites; every other member is the desktop's.
bool is_rewritten_record_member(std::string_view name) {
  return name == "colors" || name == "contentHash" || name == "isLocked" ||
         name == "lastModified" || name == "modifiedBy" || name == "name" || name == "revision";
}

bool is_content_hash(const JsonValue* value) {
  if (!value || !value->is_string() || value->as_string().size() != 64) return false;
  return std::ranges::all_of(
      value->as_string(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string_view string_or_empty(const JsonValue& object, std::string_view name) {
  const JsonValue* value = object.find(name);
  return value && value->is_string() ? value->as_string() : std::string_view();
}

void check_record(const JsonValue& record, const JsonValue& incoming, const JsonValue* stored,
                  double stamp) {
  require(record.is_object());
  require(is_content_hash(record.find("contentHash")));
  require(string_or_empty(record, "name") == string_or_empty(incoming, "name"));
  const JsonValue* colors = incoming.find("colors");
  require(text_of(record.find("colors")) ==
          (colors && colors->is_array() ? text_of(colors) : "[]"));
  std::string stamp_text;
  tolvanik::append_json_double(stamp, stamp_text);
  require(text_of(record.find("lastModified")) == stamp_text);
  const JsonValue* revision = record.find("revision");
  require(revision && revision->is_integer());
  if (!stored) {
    require(string_or_empty(record, "id") == string_or_empty(incoming, "id"));
    require(text_of(record.find("revision")) == "1");
    return;
  }
  for (const auto& member : stored->members()) {
    if (!is_rewritten_record_member(member.name)) {
      require(text_of(record.find(member.name)) == text_of(&member.value));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto piece_bytes = provider.ConsumeIntegralInRange<std::size_t>(1, 1 << 16);
  const std::string stored_text = provider.ConsumeRandomLengthString();
  const std::string message_text = provider.ConsumeRemainingBytesAsString();
  const auto message = tolvanik::parse_json(message_text);
  if (!message) return 0;
  const JsonDocument stored = tolvanik::parse_json(stored_text).value_or(JsonDocument());
  const JsonValue* last_modified = message->root().find("lastModified");
  const double stamp =
      last_modified && last_modified->is_number() ? last_modified->as_double() : 1796200000000.0;

  tolvanik::JsonArena arena;
  const auto updated = tolvanik::updated_document(stored, *message, stamp, arena);
  const JsonValue* templates = message->root().find("templates");
  if (!templates || !templates->is_array()) {
    require(!updated);
    return 0;
  }
  require(updated.has_value());
  TextSink sink;
  std::string buffer(piece_bytes, '\0');
  require(tolvanik::write_pretty_json(*updated, buffer, sink));
  const auto written = tolvanik::parse_json(sink.text);
  require(written.has_value());
  const JsonValue& document = written->root();
  require(document.is_object());
  // The file holds the document in its one pretty form, whatever the pieces.
  require(tolvanik::to_pretty_json(document) == sink.text);

  // Every member the host does not own is kept as it was, and nothing else
  // comes in beside the host's three.
  std::size_t kept = 0;
  if (stored.root().is_object()) {
    for (const auto& member : stored.root().members()) {
      if (is_host_member(member.name)) continue;
      require(text_of(document.find(member.name)) == text_of(&member.value));
      ++kept;
    }
  }
  require(document.members().size() == kept + 3);
  const JsonValue* active = message->root().find("activeTemplateId");
  require(string_or_empty(document, "tolvanik_active_template") ==
          (active && active->is_string() ? active->as_string() : std::string_view()));

  // Stored records by id, the later of two with the same id winning.
  std::unordered_map<std::string_view, const JsonValue*> stored_records;
  if (const JsonValue* records = stored.root().find("tolvanik_templates");
      records && records->is_array()) {
    for (const JsonValue& record : records->elements()) {
      const JsonValue* id = record.find("id");
      if (id && id->is_string()) stored_records[id->as_string()] = &record;
    }
  }
  const JsonValue* merged = document.find("tolvanik_templates");
  require(merged && merged->is_array());
  require(merged->elements().size() == templates->elements().size());
  for (std::size_t i = 0; i < merged->elements().size(); ++i) {
    const JsonValue& incoming = templates->elements()[i];
    const auto match = stored_records.find(string_or_empty(incoming, "id"));
    check_record(merged->elements()[i], incoming,
                 match == stored_records.end() ? nullptr : match->second, stamp);
  }
  return 0;
}
