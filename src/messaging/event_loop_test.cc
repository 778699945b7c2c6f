#include "messaging/event_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

namespace tolvanik {
namespace {

using std::chrono::nanoseconds;

TEST(StorageChangePushed, OnlyAfterMoreThanOneQuietSecond) {
  const nanoseconds written(7'000'000'000);
  EXPECT_FALSE(storage_change_pushed(written, written));
  EXPECT_FALSE(storage_change_pushed(written, written + nanoseconds(500'000'000)));
  EXPECT_FALSE(storage_change_pushed(written, written + nanoseconds(1'000'000'000)));
  EXPECT_TRUE(storage_change_pushed(written, written + nanoseconds(1'000'000'001)));
  EXPECT_TRUE(storage_change_pushed(written, written + nanoseconds(1'500'000'000)));
}

TEST(ColorsPush, CarriesTheSnapshotInWireOrder) {
  StorageSnapshot snapshot;
  JsonArena& arena = snapshot.document.arena();
  snapshot.templates =
      arena.array(std::vector<JsonValue>{arena.object({{"colors", JsonValue::array({})},
                                                       {"id", JsonValue::string("a")},
                                                       {"name", JsonValue::string("A")}}),
                                         arena.object({{"id", JsonValue::string("b")}})});
  snapshot.active_template_id = "b";
  snapshot.last_modified = 1733650000123.0;
  EXPECT_EQ(to_compact_json(colors_push(std::move(snapshot)).root()),
            R"({"activeTemplateId":"b","lastModified":1733650000123.0,)"
            R"("templates":[{"colors":[],"id":"a","name":"A"},{"id":"b"}],"type":"colors"})");
}

TEST(ColorsPush, EmptySnapshotKeepsTheNumberFloatingAndANonFiniteStampBecomesNull) {
  EXPECT_EQ(to_compact_json(colors_push(StorageSnapshot{}).root()),
            R"({"activeTemplateId":"","lastModified":0.0,"templates":[],"type":"colors"})");
  StorageSnapshot infinite;
  infinite.last_modified = INFINITY;
  EXPECT_EQ(to_compact_json(colors_push(std::move(infinite)).root()),
            R"({"activeTemplateId":"","lastModified":null,"templates":[],"type":"colors"})");
}

}  // namespace
}  // namespace tolvanik
