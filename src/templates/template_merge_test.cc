#include "templates/template_merge.h"

#include <gtest/gtest.h>

#include <string>

#include "support/json_text.h"

namespace tolvanik {
namespace {

using testing::json;
using testing::text_at;

std::string hash_of(std::string_view name, std::string_view colors) {
  return compute_content_hash(name, json(colors).root().elements());
}

constexpr double kStamp = 1700000000123.0;
constexpr std::string_view kDevice = "chrome-host";

// The compact text of the record merged from `incoming` with the stored
// template array `stored`.
std::string merged(std::string_view incoming, std::string_view stored = "[]",
                   std::string_view device = kDevice) {
  const JsonDocument stored_document = json(stored);
  const JsonDocument incoming_document = json(incoming);
  JsonArena arena;
  return to_compact_json(merge_template(incoming_document.root(),
                                        build_stored_template_index(stored_document.root()), kStamp,
                                        device, arena));
}

std::string merged_member(std::string_view incoming, std::string_view stored,
                          std::string_view name) {
  return text_at(json(merged(incoming, stored)).root(), name);
}

// Digests below were computed independently with sha256sum.
TEST(ContentHash, MatchesTheWorkedExample) {
  // Canonical text: Warm|C1:Red:#ff0000:true|C2::#00FF00:false
  EXPECT_EQ(hash_of("Warm", R"([{"id":"c1","name":"Red","hex":"#ff0000","isAutoNamed":true},
                                {"id":"c2","hex":"#00FF00"}])"),
            "c3bbe2799c2df99fe04d65713cb5ccc53e6eca4827b60a9128426d5a0a2d103b");
  EXPECT_EQ(hash_of("", "[]"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hash_of("Warm", "[]"),
            "316f24288be59c8327d0406f2938c59b2eda60426c0f1d2b741b8549fa131e74");
}

TEST(ContentHash, UpperCasesOnlyTheColourIdAndCountsWrongTypesAsEmpty) {
  // Canonical text: T|STRASSE:ß:#aa:false|:::false
  EXPECT_EQ(hash_of("T", R"([{"id":"straße","name":"ß","hex":"#aa","isAutoNamed":"true",
                              "isLocked":true},
                             42])"),
            "1252d30e95b555882bf1be7d37ace782dfa4605eb20c86dc0dcb001658f079b3");
  // Canonical text: x|:::false
  EXPECT_EQ(hash_of("x", R"([{"id":7,"name":null,"hex":["#aa"],"isAutoNamed":1}])"),
            "3228942be39fa000f342064c59cf4795617cb67db95800eeb46e3813bded905f");
}

TEST(ContentHash, CoversColourIdCaseHexCaseAndOrderButNotLocks) {
  const std::string base = hash_of("Warm", R"([{"id":"a1","hex":"#ff0000","isLocked":false},
                                               {"id":"b2","hex":"#00ff00"}])");
  EXPECT_EQ(base.size(), 64u);
  EXPECT_EQ(base.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(base, hash_of("Warm", R"([{"id":"A1","hex":"#ff0000","isLocked":true},
                                      {"id":"B2","hex":"#00ff00"}])"));
  EXPECT_NE(base, hash_of("Warm", R"([{"id":"a1","hex":"#FF0000"},{"id":"b2","hex":"#00ff00"}])"));
  EXPECT_NE(base, hash_of("Warm", R"([{"id":"b2","hex":"#00ff00"},{"id":"a1","hex":"#ff0000"}])"));
}

TEST(StoredTemplateIndex, KeepsStringIdsOnlyAndTheLaterDuplicate) {
  const JsonDocument stored = json(R"([{"id":"a","n":1},{"id":5},{"id":null},"a",{"name":"x"},
                               {"id":"a","n":2},{"id":""}])");
  const StoredTemplateIndex index = build_stored_template_index(stored.root());
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index.at("a"), &stored.root().elements()[5]);
  EXPECT_EQ(index.at(""), &stored.root().elements()[6]);
  EXPECT_TRUE(build_stored_template_index(json(R"({"id":"a"})").root()).empty());
  EXPECT_TRUE(build_stored_template_index(JsonValue()).empty());
}

TEST(MergeTemplate, BuildsANewRecordWithAllThirteenMembers) {
  EXPECT_EQ(merged(R"({"id":"t1","name":"Warm","isLocked":true,"extra":1,
                      "colors":[{"id":"c2","hex":"#00FF00","note":"kept"}]})"),
            R"({"colors":[{"hex":"#00FF00","id":"c2","note":"kept"}],)"
            R"("contentHash":")" +
                hash_of("Warm", R"([{"id":"c2","hex":"#00FF00"}])") +
                R"(","createdAt":1700000000123.0,"createdBy":"chrome-host","deleted":false,)"
                R"("deletedAt":null,"deletedBy":null,"id":"t1","isLocked":true,)"
                R"("lastModified":1700000000123.0,"modifiedBy":"chrome-host","name":"Warm",)"
                R"("revision":1})");
}

TEST(MergeTemplate, TakesWrongTypedIncomingMembersAsAbsent) {
  const std::string empty_hash = hash_of("", "[]");
  for (std::string_view incoming :
       {"null", "[1]", R"("t")", R"({"id":5,"name":7,"colors":{"a":1},"isLocked":"true"})"}) {
    const JsonDocument record = json(merged(incoming));
    EXPECT_EQ(text_at(record.root(), "id"), R"("")");
    EXPECT_EQ(text_at(record.root(), "name"), R"("")");
    EXPECT_EQ(text_at(record.root(), "colors"), "[]");
    EXPECT_EQ(text_at(record.root(), "isLocked"), "false");
    EXPECT_EQ(text_at(record.root(), "contentHash"), "\"" + empty_hash + "\"");
    EXPECT_EQ(text_at(record.root(), "revision"), "1");
  }
  // A stored record with the empty id is the one such a template updates.
  EXPECT_EQ(merged_member("null", R"([{"id":"","revision":4}])", "revision"), "5");
}

TEST(MergeTemplate, UpdateSetsTheIncomingSideAndKeepsTheRest) {
  const JsonDocument stored = json(R"([{"id":"t1","name":"Old","colors":[{"id":"x"}],
      "isLocked":true,"contentHash":"old","revision":41,"createdAt":1.5,"createdBy":"desktop",
      "lastModified":2.5,"modifiedBy":"desktop","deleted":true,"deletedAt":3.5,
      "deletedBy":"desktop","desktopOnly":{"k":[1,2]}}])");
  const JsonDocument incoming =
      json(R"({"id":"t1","colors":[{"id":"c","hex":"#1","extra":true}]})");
  JsonArena arena;
  const JsonValue record = merge_template(
      incoming.root(), build_stored_template_index(stored.root()), kStamp, "laptop", arena);
  const std::string hash = hash_of("", R"([{"id":"c","hex":"#1"}])");
  EXPECT_EQ(
      to_compact_json(record),
      to_compact_json(json(R"({"id":"t1","name":"","colors":[{"id":"c","hex":"#1","extra":true}],
      "isLocked":false,"contentHash":")" +
                           hash + R"(","revision":42,"createdAt":1.5,
      "createdBy":"desktop","lastModified":1700000000123.0,"modifiedBy":"laptop",
      "deleted":true,"deletedAt":3.5,"deletedBy":"desktop","desktopOnly":{"k":[1,2]}})")
                          .root()));
  EXPECT_EQ(record.find("lastModified")->kind(), JsonKind::kDouble);
  // What the index points into is left as it was.
  EXPECT_EQ(text_at(stored.root(), "0/revision"), "41");
  EXPECT_EQ(text_at(stored.root(), "0/name"), R"("Old")");
}

TEST(MergeTemplate, NextRevisionFollowsTheStoredOne) {
  const auto next = [](std::string_view revision_member) {
    const JsonDocument stored = json(R"([{"id":"t")" + std::string(revision_member) + "}]");
    const JsonDocument incoming = json(R"({"id":"t"})");
    JsonArena arena;
    const JsonValue record = merge_template(
        incoming.root(), build_stored_template_index(stored.root()), kStamp, kDevice, arena);
    EXPECT_EQ(record.find("revision")->kind(), JsonKind::kSigned);
    return to_compact_json(*record.find("revision"));
  };
  EXPECT_EQ(next(R"(,"revision":41)"), "42");
  EXPECT_EQ(next(R"(,"revision":0)"), "1");
  EXPECT_EQ(next(""), "1");
  EXPECT_EQ(next(R"(,"revision":2.5)"), "1");
  EXPECT_EQ(next(R"(,"revision":3.0)"), "1");
  EXPECT_EQ(next(R"(,"revision":"7")"), "1");
  EXPECT_EQ(next(R"(,"revision":null)"), "1");
  EXPECT_EQ(next(R"(,"revision":-3)"), "-2");
  EXPECT_EQ(next(R"(,"revision":-1)"), "0");
  EXPECT_EQ(next(R"(,"revision":-9223372036854775808)"), "-9223372036854775807");
  EXPECT_EQ(next(R"(,"revision":9223372036854775806)"), "9223372036854775807");
  EXPECT_EQ(next(R"(,"revision":9223372036854775807)"), "9223372036854775807");
  EXPECT_EQ(next(R"(,"revision":9223372036854775808)"), "1");
  EXPECT_EQ(next(R"(,"revision":18446744073709551615)"), "1");
}

TEST(MergeTemplate, SameIncomingIdTwiceGetsTheSameRevision) {
  const JsonDocument stored = json(R"([{"id":"t","revision":1},{"id":"t","revision":9}])");
  const StoredTemplateIndex index = build_stored_template_index(stored.root());
  const JsonDocument incoming = json(R"({"id":"t","name":"n"})");
  JsonArena arena;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(text_at(merge_template(incoming.root(), index, kStamp, kDevice, arena), "revision"),
              "10");
  }
  // Lookup is case-sensitive.
  EXPECT_EQ(merged_member(R"({"id":"T"})", R"([{"id":"t","revision":9}])", "revision"), "1");
}

}  // namespace
}  // namespace tolvanik
