// JSON values written as text in tests, the way they appear on the wire.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "messaging/json.h"

namespace tolvanik::testing {

// The value `text` holds; fails the test when it is not JSON.
inline Json json(std::string_view text) {
  std::optional<Json> value = parse_json(text);
  EXPECT_TRUE(value) << text;
  return value.value_or(Json());
}

}  // namespace tolvanik::testing
