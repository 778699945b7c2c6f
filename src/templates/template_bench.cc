// Times the template work of one request on a storage document of the size
// the desktop application produces (about 2.4 MB): the views a snapshot
// sends, and the index and merge of an update that writes every template
// back. Prints numbers; asserts nothing.
//
//   template_bench [--templates N] [--colors N] [--runs N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "messaging/json.h"
#include "templates/template_merge.h"
#include "templates/template_view.h"

namespace tolvanik {
namespace {

using Clock = std::chrono::steady_clock;

Json make_color(int template_number, int color_number) {
  const std::string suffix = std::to_string(template_number) + "-" + std::to_string(color_number);
  return Json::object({{"hex", "#a1b2c3"},
                       {"id", "color-" + suffix},
                       {"isAutoNamed", color_number % 2 == 0},
                       {"isLocked", false},
                       {"name", "Colour name " + suffix}});
}

Json make_document(int template_count, int color_count) {
  Json::array_t templates;
  for (int t = 0; t < template_count; ++t) {
    Json::array_t colors;
    for (int c = 0; c < color_count; ++c) colors.push_back(make_color(t, c));
    templates.push_back(Json::object({{"colors", std::move(colors)},
                                      {"contentHash", std::string(64, 'a')},
                                      {"createdAt", 1700000000000.0},
                                      {"createdBy", "desktop"},
                                      {"deleted", t % 10 == 0},
                                      {"deletedAt", nullptr},
                                      {"deletedBy", nullptr},
                                      {"id", "template-" + std::to_string(t)},
                                      {"isLocked", false},
                                      {"lastModified", 1700000000000.0},
                                      {"modifiedBy", "desktop"},
                                      {"name", "Template " + std::to_string(t)},
                                      {"revision", t}}));
  }
  return Json::object({{"tolvanik_templates", std::move(templates)}});
}

template <typename Work>
double median_ms(int runs, Work work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const Clock::time_point start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

int run(int argc, char** argv) {
  int template_count = 1000;
  int color_count = 10;
  int runs = 21;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--templates") template_count = value;
    if (option == "--colors") color_count = value;
    if (option == "--runs") runs = std::max(value, 1);
  }

  const Json document = make_document(template_count, color_count);
  const Json& stored = document["tolvanik_templates"];
  const std::size_t document_bytes = to_pretty_json(document).size();

  std::size_t sink = 0;
  // For scale: what one deep copy of the stored list costs.
  const double copy_ms = median_ms(runs, [&] { sink += Json(stored).size(); });
  const double views_ms = median_ms(
      runs, [&] { sink += visible_templates(stored.get_ref<const Json::array_t&>()).size(); });
  const double index_ms =
      median_ms(runs, [&] { sink += build_stored_template_index(stored).size(); });
  const double merge_ms = median_ms(runs, [&] {
    const StoredTemplateIndex index = build_stored_template_index(stored);
    Json::array_t merged;
    merged.reserve(stored.size());
    for (const Json& incoming : stored) {
      merged.push_back(merge_template(incoming, index, 1700000000001.0, "chrome-host"));
    }
    sink += merged.size();
  });
  const double hash_ms = median_ms(runs, [&] {
    for (const Json& record : stored) {
      sink += compute_content_hash(record["name"].get_ref<const Json::string_t&>(),
                                   record["colors"].get_ref<const Json::array_t&>())
                  .size();
    }
  });

  std::printf("document: %d templates x %d colours, %zu bytes pretty-printed\n", template_count,
              color_count, document_bytes);
  std::printf("median of %d runs, milliseconds:\n", runs);
  std::printf("  deep copy of the stored list %8.3f\n", copy_ms);
  std::printf("  visible_templates            %8.3f\n", views_ms);
  std::printf("  build_stored_template_index  %8.3f\n", index_ms);
  std::printf("  index + merge every template %8.3f\n", merge_ms);
  std::printf("  content hashes only          %8.3f\n", hash_ms);
  return sink == 0 ? 1 : 0;
}

}  // namespace
}  // namespace tolvanik

int main(int argc, char** argv) { return tolvanik::run(argc, argv); }
