#include "templates/template_merge.h"

#include <gtest/gtest.h>

#include <string>

#include "support/json_text.h"

namespace tolvanik {
namespace {

using testing::json;

std::string hash_of(std::string_view name, std::string_view colors) {
  return compute_content_hash(name, json(colors).get_ref<const Json::array_t&>());
}

constexpr double kStamp = 1700000000123.0;
constexpr std::string_view kDevice = "chrome-host";

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
  const Json stored = json(R"([{"id":"a","n":1},{"id":5},{"id":null},"a",{"name":"x"},
                               {"id":"a","n":2},{"id":""}])");
  const StoredTemplateIndex index = build_stored_template_index(stored);
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index.at("a"), &stored[5]);
  EXPECT_EQ(index.at(""), &stored[6]);
  EXPECT_TRUE(build_stored_template_index(json(R"({"id":"a"})")).empty());
  EXPECT_TRUE(build_stored_template_index(Json()).empty());
}

TEST(MergeTemplate, BuildsANewRecordWithAllThirteenMembers) {
  const Json merged = merge_template(json(R"({"id":"t1","name":"Warm","isLocked":true,"extra":1,
                              "colors":[{"id":"c2","hex":"#00FF00","note":"kept"}]})"),
                                     {}, kStamp, kDevice);
  EXPECT_EQ(to_compact_json(merged),
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
  for (const Json& incoming : {json("null"), json("[1]"), json(R"("t")"),
                               json(R"({"id":5,"name":7,"colors":{"a":1},"isLocked":"true"})")}) {
    const Json merged = merge_template(incoming, {}, kStamp, kDevice);
    EXPECT_EQ(merged["id"], "");
    EXPECT_EQ(merged["name"], "");
    EXPECT_EQ(merged["colors"], Json::array());
    EXPECT_EQ(merged["isLocked"], false);
    EXPECT_EQ(merged["contentHash"], empty_hash);
    EXPECT_EQ(merged["revision"], 1);
  }
  // A stored record with the empty id is the one such a template updates.
  const Json stored = json(R"([{"id":"","revision":4}])");
  EXPECT_EQ(merge_template(json("null"), build_stored_template_index(stored), kStamp,
                           kDevice)["revision"],
            5);
}

TEST(MergeTemplate, UpdateSetsTheIncomingSideAndKeepsTheRest) {
  const Json stored = json(R"([{"id":"t1","name":"Old","colors":[{"id":"x"}],"isLocked":true,
      "contentHash":"old","revision":41,"createdAt":1.5,"createdBy":"desktop",
      "lastModified":2.5,"modifiedBy":"desktop","deleted":true,"deletedAt":3.5,
      "deletedBy":"desktop","desktopOnly":{"k":[1,2]}}])");
  const Json merged =
      merge_template(json(R"({"id":"t1","colors":[{"id":"c","hex":"#1","extra":true}]})"),
                     build_stored_template_index(stored), kStamp, "laptop");
  const std::string hash = hash_of("", R"([{"id":"c","hex":"#1"}])");
  EXPECT_EQ(merged, json(R"({"id":"t1","name":"","colors":[{"id":"c","hex":"#1","extra":true}],
      "isLocked":false,"contentHash":")" +
                         hash + R"(","revision":42,"createdAt":1.5,
      "createdBy":"desktop","lastModified":1700000000123.0,"modifiedBy":"laptop",
      "deleted":true,"deletedAt":3.5,"deletedBy":"desktop","desktopOnly":{"k":[1,2]}})"));
  EXPECT_TRUE(merged["lastModified"].is_number_float());
  // The index and what it points into are left as they were.
  EXPECT_EQ(stored[0]["revision"], 41);
  EXPECT_EQ(stored[0]["name"], "Old");
}

TEST(MergeTemplate, NextRevisionFollowsTheStoredOne) {
  const auto next = [](std::string_view revision_member) {
    const Json stored = json(R"([{"id":"t")" + std::string(revision_member) + "}]");
    const Json merged =
        merge_template(json(R"({"id":"t"})"), build_stored_template_index(stored), kStamp, kDevice);
    EXPECT_TRUE(merged["revision"].is_number_integer());
    EXPECT_FALSE(merged["revision"].is_number_float());
    return to_compact_json(merged["revision"]);
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
  const Json stored = json(R"([{"id":"t","revision":1},{"id":"t","revision":9}])");
  const StoredTemplateIndex index = build_stored_template_index(stored);
  const Json incoming = json(R"({"id":"t","name":"n"})");
  EXPECT_EQ(merge_template(incoming, index, kStamp, kDevice)["revision"], 10);
  EXPECT_EQ(merge_template(incoming, index, kStamp, kDevice)["revision"], 10);
  // Lookup is case-sensitive.
  EXPECT_EQ(merge_template(json(R"({"id":"T"})"), index, kStamp, kDevice)["revision"], 1);
}

}  // namespace
}  // namespace tolvanik
