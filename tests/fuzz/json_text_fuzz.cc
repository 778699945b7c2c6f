// Any bytes through the JSON text rules: whatever parses must write out as
// text that parses back to the same value, in both layouts, and the text
// rules' refusals must hold whatever else the input holds.
#include <cstdlib>
#include <string>
#include <string_view>

#include "messaging/json.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto document = tolvanik::parse_json(text);
  if (!document) return 0;
  const tolvanik::JsonValue& value = document->root();
  require(text.find('\0') == std::string_view::npos);
  require(!text.starts_with("\xEF\xBB\xBF"));

  const std::string compact = tolvanik::to_compact_json(value);
  const auto from_compact = tolvanik::parse_json(compact);
  require(from_compact.has_value());
  require(tolvanik::to_compact_json(from_compact->root()) == compact);

  const std::string pretty = tolvanik::to_pretty_json(value);
  const auto from_pretty = tolvanik::parse_json(pretty);
  require(from_pretty.has_value());
  require(tolvanik::to_compact_json(from_pretty->root()) == compact);
  require(tolvanik::to_pretty_json(from_pretty->root()) == pretty);
  return 0;
}
