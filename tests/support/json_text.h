// JSON values written as text in tests, the way they appear on the wire.
#pragma once

#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <string_view>

#include "messaging/json.h"

namespace tolvanik::testing {

// The document `text` holds; fails the test when it is not JSON.
inline JsonDocument json(std::string_view text) {
  std::optional<JsonDocument> document = parse_json(text);
  EXPECT_TRUE(document) << text;
  return document ? std::move(*document) : JsonDocument();
}

// The compact text of the value that `path` leads to from `root`: member
// names and array indexes separated by "/", "" for the root itself.
// "<missing>" when the path leads nowhere.
inline std::string text_at(const JsonValue& root, std::string_view path) {
  const JsonValue* value = &root;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    std::size_t index = 0;
    if (value->is_array() && std::from_chars(step.data(), step.data() + step.size(), index).ptr ==
                                 step.data() + step.size()) {
      if (index >= value->elements().size()) return "<missing>";
      value = &value->elements()[index];
    } else {
      value = value->find(step);
      if (value == nullptr) return "<missing>";
    }
  }
  return to_compact_json(*value);
}

}  // namespace tolvanik::testing
