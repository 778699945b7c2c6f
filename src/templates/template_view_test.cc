#include "templates/template_view.h"

#include <gtest/gtest.h>

#include "support/json_text.h"

namespace tolvanik {
namespace {

using testing::json;

std::string visible_text(std::string_view stored) {
  JsonDocument document = json(stored);
  return to_compact_json(visible_templates(document.root().elements(), document.arena()));
}

std::string color_view(std::string_view entry) {
  JsonDocument document = json(entry);
  return to_compact_json(normalize_color(document.root(), document.arena()));
}

std::string template_view(std::string_view stored) {
  JsonDocument document = json(stored);
  return to_compact_json(normalize_template(document.root(), document.arena()));
}

TEST(TemplateView, ColourViewHasExactlyFiveMembersWithDefaults) {
  EXPECT_EQ(color_view("42"),
            R"({"hex":"","id":"","isAutoNamed":false,"isLocked":false,"name":""})");
  EXPECT_EQ(color_view(R"({"name":"Red","extra":1,"isLocked":"yes",
                                                     "id":null,"hex":"#FF0000"})"),
            R"({"hex":"#FF0000","id":null,"isAutoNamed":false,"isLocked":"yes","name":"Red"})");
}

TEST(TemplateView, TemplateViewKeepsFourMembersCopiedWhateverTheirType) {
  EXPECT_EQ(template_view(
                R"({"id":null,"name":7,"isLocked":true,"revision":3,"contentHash":"ab",
                    "createdAt":1.0,"deleted":false,"colors":[{"id":"c","extra":[]},"x"]})"),
            R"({"colors":[{"hex":"","id":"c","isAutoNamed":false,"isLocked":false,"name":""},)"
            R"({"hex":"","id":"","isAutoNamed":false,"isLocked":false,"name":""}],)"
            R"("id":null,"isLocked":true,"name":7})");
  for (std::string_view colors : {"", R"(,"colors":null)", R"(,"colors":{"a":1})"}) {
    EXPECT_EQ(template_view("{\"id\":\"t\"" + std::string(colors) + "}"),
              R"({"colors":[],"id":"t","isLocked":false,"name":""})");
  }
}

TEST(TemplateView, NonObjectTemplateComesBackUnchanged) {
  for (std::string_view text : {"null", "true", "1.5", R"("text")", R"([{"id":"a"}])"}) {
    EXPECT_EQ(template_view(text), text);
  }
}

TEST(VisibleTemplates, HidesOnlyDeletedTrueAndKeepsStoredOrder) {
  EXPECT_EQ(visible_text("[]"), "[]");
  EXPECT_EQ(visible_text(R"([{"id":"a","deleted":true},{"id":"b"}])"),
            R"([{"colors":[],"id":"b","isLocked":false,"name":""}])");
  EXPECT_EQ(visible_text(R"([{"id":"c","deleted":"true"},"s",{"id":"d","deleted":1},
                            {"id":"e","deleted":null},{"id":"f","deleted":false}])"),
            R"([{"colors":[],"id":"c","isLocked":false,"name":""},"s",)"
            R"({"colors":[],"id":"d","isLocked":false,"name":""},)"
            R"({"colors":[],"id":"e","isLocked":false,"name":""},)"
            R"({"colors":[],"id":"f","isLocked":false,"name":""}])");
}

}  // namespace
}  // namespace tolvanik
