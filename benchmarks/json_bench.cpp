#include "benchmarks/json_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "benchmarks/generator.h"
#include "benchmarks/measure.h"

namespace bench {

namespace {

constexpr const char* kDusk = "Dusk (Bench)";
constexpr const char* kDawn = "Dawn (Bench)";

void print(const char* key, double value) { std::printf("%s %.17g\n", key, value); }

int count_nodes(const Ombrix::RenderNode& node) {
  int count = 1;
  for (const auto& child : node.children) count += count_nodes(child);
  return count;
}

// Allocations made by `f`, and its time.
template <typename F>
double counted(F&& f, std::size_t& allocations) {
  const std::size_t before = allocation_count();
  const double ns = time_ns(f);
  allocations += allocation_count() - before;
  return ns;
}

}  // namespace

int run_measure_json(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s measure-json DIR NODES [TREE_OUT]\n", argv[0]);
    return 2;
  }
  install_counting_log();
  auto app = make_app(argv[2], size_for_nodes(std::atoi(argv[3])));
  const int nodes = count_nodes(app->build_render_tree());
  const std::string tree = app->render_tree_json();
  if (argc == 5) std::ofstream(argv[4], std::ios::binary) << tree;

  // The tree written, beside the same tree only built: the difference in
  // allocations is what writing costs.
  constexpr int kReps = 9;
  std::vector<double> write, build;
  std::size_t write_allocations = 0, build_allocations = 0;
  for (int rep = -2; rep < kReps; ++rep) {  // two warm-up runs
    std::size_t w = 0, b = 0;
    const double write_ns = counted([&] { (void)app->render_tree_json(); }, w);
    const double build_ns = counted([&] { (void)app->build_render_tree(); }, b);
    if (rep < 0) continue;
    write.push_back(write_ns);
    build.push_back(build_ns);
    write_allocations += w;
    build_allocations += b;
  }

  // A theme switch as records and as JSON, alternated; each switches the theme.
  std::vector<double> records, json;
  std::size_t record_allocations = 0, json_allocations = 0;
  std::size_t json_bytes = 0;
  int step = 0;
  for (int rep = -2; rep < kReps; ++rep) {
    std::size_t r = 0, j = 0;
    const double records_ns = counted(
        [&] {
          app->set_active_theme(++step % 2 ? kDawn : kDusk);
          if (app->render_patches().empty()) std::fprintf(stderr, "theme switch: no patches\n");
        },
        r);
    const double json_ns = counted(
        [&] {
          app->set_active_theme(++step % 2 ? kDawn : kDusk);
          json_bytes = app->render_patches_json().size();
        },
        j);
    if (rep < 0) continue;
    records.push_back(records_ns);
    json.push_back(json_ns);
    record_allocations += r;
    json_allocations += j;
  }

  print("json_nodes", nodes);
  print("json_tree_bytes", double(tree.size()));
  print("json_tree_ns", fastest(write));
  print("json_tree_build_ns", fastest(build));
  print("json_tree_write_allocations_per_1000_nodes",
        (double(write_allocations) - double(build_allocations)) / kReps / nodes * 1000);
  print("json_switch_records_ns", fastest(records));
  print("json_switch_ns", fastest(json));
  print("json_switch_bytes", double(json_bytes));
  print("json_switch_write_allocations_per_1000_nodes",
        (double(json_allocations) - double(record_allocations)) / kReps / nodes * 1000);
  print("log_messages", double(log_message_count()));
  return 0;
}

int run_profile_json(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fprintf(stderr, "usage: %s profile-json TASK DIR NODES [REPS]\n", argv[0]);
    return 2;
  }
  install_counting_log();
  const std::string task = argv[2];
  if (task != "tree" && task != "switch") {
    std::fprintf(stderr, "unknown task %s\n", task.c_str());
    return 2;
  }
  auto app = make_app(argv[3], size_for_nodes(std::atoi(argv[4])));
  const int reps = argc == 6 ? std::max(1, std::atoi(argv[5])) : 1;
  std::size_t bytes = 0;
  for (int step = 0; step < reps; ++step) {
    profiled([&] {
      if (task == "tree") {
        bytes += app->render_tree_json().size();
      } else {
        app->set_active_theme(step % 2 ? kDusk : kDawn);
        bytes += app->render_patches_json().size();
      }
    });
  }
  print("json_bytes", double(bytes));
  return log_message_count() == 0 ? 0 : 1;
}

double node_stringify_ns(const std::string& tree_file) {
  // The tree is parsed once; each repetition writes it anew.
  static const char* const kScript =
      "const t = JSON.parse(require('fs').readFileSync(process.argv[1], 'utf8'));"
      "let best = Infinity;"
      "for (let i = 0; i < 12; i++) {"
      "  const start = process.hrtime.bigint();"
      "  const text = JSON.stringify(t);"
      "  const ns = Number(process.hrtime.bigint() - start);"
      "  if (text.length === 0) throw new Error('empty');"
      "  if (i >= 2 && ns < best) best = ns;"
      "}"
      "console.log(best);";
  const std::string command =
      std::string("node -e \"") + kScript + "\" '" + tree_file + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  double ns = -1;
  if (std::fscanf(pipe, "%lf", &ns) != 1) ns = -1;
  return ::pclose(pipe) == 0 ? ns : -1;
}

}  // namespace bench
