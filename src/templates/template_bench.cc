// Times the template work of one request on a storage document of the size
// the desktop application produces (about 2.4 MB): the views a snapshot
// sends, and the index and merge of an update that writes every template
// back, and reading and writing its text. Prints numbers; asserts nothing.
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

void append_color(int template_number, int color_number, std::string& out) {
  const std::string suffix = std::to_string(template_number) + "-" + std::to_string(color_number);
  out += R"({"hex":"#a1b2c3","id":"color-)" + suffix + R"(","isAutoNamed":)" +
         (color_number % 2 == 0 ? "true" : "false") + R"(,"isLocked":false,"name":"Colour name )" +
         suffix + R"("})";
}

std::string document_text(int template_count, int color_count) {
  std::string out = R"({"tolvanik_templates":[)";
  for (int t = 0; t < template_count; ++t) {
    if (t > 0) out += ',';
    out += R"({"colors":[)";
    for (int c = 0; c < color_count; ++c) {
      if (c > 0) out += ',';
      append_color(t, c, out);
    }
    out += R"(],"contentHash":")" + std::string(64, 'a') +
           R"(","createdAt":1700000000000.0,"createdBy":"desktop","deleted":)" +
           (t % 10 == 0 ? "true" : "false") +
           R"(,"deletedAt":null,"deletedBy":null,"id":"template-)" + std::to_string(t) +
           R"(","isLocked":false,"lastModified":1700000000000.0,"modifiedBy":"desktop",)" +
           R"("name":"Template )" + std::to_string(t) + R"(","revision":)" + std::to_string(t) +
           "}";
  }
  return out + "]}";
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

struct Options {
  int template_count = 1000;
  int color_count = 10;
  int runs = 21;
};

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--templates") options.template_count = value;
    if (option == "--colors") options.color_count = value;
    if (option == "--runs") options.runs = std::max(value, 1);
  }
  return options;
}

int run(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  const int runs = options.runs;
  const std::string text = to_pretty_json(
      parse_json(document_text(options.template_count, options.color_count))->root());
  JsonDocument document = *parse_json(text);
  const JsonValue& stored = *document.root().find("tolvanik_templates");

  std::size_t sink = 0;
  const double parse_ms = median_ms(runs, [&] { sink += parse_json(text)->text_bytes(); });
  const double write_ms = median_ms(runs, [&] { sink += to_pretty_json(document.root()).size(); });
  const double views_ms = median_ms(runs, [&] {
    JsonArena arena;
    sink += visible_templates(stored.elements(), arena).elements().size();
  });
  const double index_ms =
      median_ms(runs, [&] { sink += build_stored_template_index(stored).size(); });
  const double merge_ms = median_ms(runs, [&] {
    const StoredTemplateIndex index = build_stored_template_index(stored);
    JsonArena arena;
    for (const JsonValue& incoming : stored.elements()) {
      sink +=
          merge_template(incoming, index, 1700000000001.0, "chrome-host", arena).members().size();
    }
  });
  const double hash_ms = median_ms(runs, [&] {
    for (const JsonValue& record : stored.elements()) {
      sink +=
          compute_content_hash(record.find("name")->as_string(), record.find("colors")->elements())
              .size();
    }
  });

  std::printf("document: %d templates x %d colours, %zu bytes pretty-printed\n",
              options.template_count, options.color_count, text.size());
  std::printf("median of %d runs, milliseconds:\n", runs);
  std::printf("  parse the pretty text         %8.3f\n", parse_ms);
  std::printf("  write the pretty text         %8.3f\n", write_ms);
  std::printf("  visible_templates            %8.3f\n", views_ms);
  std::printf("  build_stored_template_index  %8.3f\n", index_ms);
  std::printf("  index + merge every template %8.3f\n", merge_ms);
  std::printf("  content hashes only          %8.3f\n", hash_ms);
  return sink == 0 ? 1 : 0;
}

}  // namespace
}  // namespace tolvanik

int main(int argc, char** argv) { return tolvanik::run(argc, argv); }
