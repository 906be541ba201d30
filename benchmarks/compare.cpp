#include "benchmarks/compare.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchmarks/generator.h"
#include "benchmarks/json_bench.h"
#include "benchmarks/scaling.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr int kSmallNodes = 1000;
constexpr int kLargeNodes = 10000;

using Figures = std::map<std::string, std::vector<double>>;

// Runs a command and gathers its "key value" lines into `figures`.
void run_into(const std::string& command, Figures& figures) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  char key[128];
  double value = 0;
  while (std::fscanf(pipe, "%127s %lf", key, &value) == 2) figures[key].push_back(value);
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error("failed (" + std::to_string(status) + "): " + command);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

class Report {
 public:
  Report(const Figures& baseline, const Figures& current)
      : baseline_(baseline), current_(current) {}

  double base(const std::string& key) const { return median(find(baseline_, key)); }
  double now(const std::string& key) const { return median(find(current_, key)); }

  void row(const char* what, const std::string& key, double scale, const char* unit) const {
    std::printf("  %-58s %12.2f %12.2f %s\n", what, base(key) / scale, now(key) / scale, unit);
  }

  // A goal on a ratio: met when ratio <= limit (at_most) or >= limit.
  void goal(const std::string& what, double ratio, bool at_most, double limit) {
    const bool ok = at_most ? ratio <= limit : ratio >= limit;
    missed_ += ok ? 0 : 1;
    std::printf("  %-62s %8.3f  (goal %s %.2f)  %s\n", what.c_str(), ratio,
                at_most ? "<=" : ">=", limit, ok ? "ok" : "MISSED");
  }

  int missed() const { return missed_; }

 private:
  static const std::vector<double>& find(const Figures& figures, const std::string& key) {
    static const std::vector<double> none;
    auto it = figures.find(key);
    return it == figures.end() ? none : it->second;
  }

  const Figures& baseline_;
  const Figures& current_;
  int missed_ = 0;
};

// The JSON forms at 10,000 nodes: both sides write the tree and a theme
// switch; after the current side, node writes that side's tree, once parsed.
void measure_json(const std::string& binary, bool current, const std::string& dir,
                  Figures& figures) {
  const std::string tree_file = dir + "/tree.json";
  std::string command = quoted(binary) + " measure-json " + quoted(dir) + " ";
  command += std::to_string(kLargeNodes);
  if (current) command.append(" ").append(quoted(tree_file));
  run_into(command, figures);
  if (current) figures["json_node_stringify_ns"].push_back(node_stringify_ns(tree_file));
}

void report_json(Report& report) {
  report.row("render_tree_json 10000", "json_tree_ns", 1e6, "ms");
  report.row("  of it the tree built (build_render_tree)", "json_tree_build_ns", 1e6, "ms");
  report.row("node JSON.stringify of the same tree", "json_node_stringify_ns", 1e6, "ms");
  report.row("theme switch 10000, patches as records", "json_switch_records_ns", 1e6, "ms");
  report.row("theme switch 10000, patches as JSON", "json_switch_ns", 1e6, "ms");
  report.row("render_tree_json 10000, bytes", "json_tree_bytes", 1, "");
  report.row("theme switch as JSON, bytes", "json_switch_bytes", 1, "");
  report.row("heap allocations per 1000 nodes written, tree",
             "json_tree_write_allocations_per_1000_nodes", 1, "");
  report.row("heap allocations per 1000 nodes written, theme switch",
             "json_switch_write_allocations_per_1000_nodes", 1, "");
}

void json_goals(Report& report) {
  report.goal("render_tree_json 10000: baseline / current",
              report.base("json_tree_ns") / report.now("json_tree_ns"), false, 5.0);
  const double node = report.now("json_node_stringify_ns");
  if (node <= 0) std::printf("  node did not run: install Debian's nodejs\n");
  report.goal("render_tree_json 10000 / node JSON.stringify of that tree",
              node > 0 ? report.now("json_tree_ns") / node : 1e9, true, 1.0);
  report.goal("theme switch 10000, as JSON / as records",
              report.now("json_switch_ns") / report.now("json_switch_records_ns"), true, 1.5);
  // The output string and its few growths at most: far below one per 1000 nodes.
  report.goal("heap allocations per 1000 nodes written, tree",
              report.now("json_tree_write_allocations_per_1000_nodes"), true, 1.0);
  report.goal("heap allocations per 1000 nodes written, theme switch",
              report.now("json_switch_write_allocations_per_1000_nodes"), true, 1.0);
}
}  // namespace

int run_compare(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s compare BASELINE_BINARY [ROUNDS]\n", argv[0]);
    return 100;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string baseline = fs::absolute(argv[2]).string();
  const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;

  const fs::path work =
      fs::temp_directory_path() / ("ombrix-compare-" + std::to_string(::getpid()));
  const std::string small_dir = (work / "small").string();
  const std::string large_dir = (work / "large").string();
  Figures generated;
  int missed = 0;
  try {
    run_into(quoted(self) + " generate " + quoted(small_dir) + " " + std::to_string(kSmallNodes),
             generated);
    generated.clear();
    run_into(quoted(self) + " generate " + quoted(large_dir) + " " + std::to_string(kLargeNodes),
             generated);
    std::printf(
        "interface: %.0f render nodes, %.0f bytes of .drl in %.0f files, %.0f bytes as JSON\n",
        generated["nodes"][0], generated["drl_bytes"][0], generated["drl_files"][0],
        generated["json_bytes"][0]);
    std::fflush(stdout);

    Figures figures[2];  // 0: baseline, 1: current
    const std::string binaries[2] = {baseline, self};
    for (int round = 0; round < rounds; ++round) {
      for (int turn = 0; turn < 2; ++turn) {
        const int side = (round + turn) % 2;  // alternate which goes first
        const std::string& binary = binaries[side];
        std::fprintf(stderr, "round %d/%d: %s\n", round + 1, rounds,
                     side == 0 ? "baseline" : "current");
        run_into(quoted(binary) + " measure " + quoted(small_dir) + " " +
                     std::to_string(kSmallNodes) + " " + quoted(large_dir) + " " +
                     std::to_string(kLargeNodes),
                 figures[side]);
        run_into(
            quoted(binary) + " memory " + quoted(large_dir) + " " + std::to_string(kLargeNodes),
            figures[side]);
        // The baseline's reading grows with the square of the members, and
        // its expansion asks for gigabytes: this build only.
        if (side == 1) {
          run_into(quoted(binary) + " scaling-bytes theme", figures[side]);
          run_into(quoted(binary) + " scaling-bytes expand " + quoted((work / "expand").string()),
                   figures[side]);
        }
        measure_json(binary, side == 1, large_dir, figures[side]);
      }
    }

    Report report(figures[0], figures[1]);
    char title[96];
    std::snprintf(title, sizeof title,
                  "medians of %d alternating rounds, each its fastest repetition", rounds);
    std::printf("\n%-60s %12s %12s\n", title, "baseline", "current");
    const char* scenarios[] = {"nothing changed", "one text changed", "theme switch"};
    for (int nodes : {kSmallNodes, kLargeNodes}) {
      for (int s = 0; s < 3; ++s) {
        const std::string what = "re-render " + std::to_string(nodes) + ", " + scenarios[s];
        report.row(what.c_str(),
                   "render_" + std::to_string(nodes) + "_" + std::to_string(s) + "_ns", 1e6, "ms");
      }
    }
    for (int nodes : {kSmallNodes, kLargeNodes}) {
      for (int s = 0; s < 3; ++s) {
        const std::string what =
            "heap allocations per re-render " + std::to_string(nodes) + ", " + scenarios[s];
        report.row(what.c_str(),
                   "render_" + std::to_string(nodes) + "_" + std::to_string(s) + "_allocations", 1,
                   "");
      }
    }
    report.row("load + inherit + link", "load_ns", 1e6, "ms");
    report.row("teardown of the loaded tree", "teardown_ns", 1e6, "ms");
    report.row("lexer + parser, every file", "lexparse_ns", 1e6, "ms");
    report.row("nlohmann::json parse of the same content", "json_ns", 1e6, "ms");
    report.row("nlohmann::ordered_json parse, same content", "json_ordered_ns", 1e6, "ms");
    report.row("resident memory growth of loading", "rss_bytes", 1048576, "MiB");
    report.row("heap in use after loading", "heap_bytes", 1048576, "MiB");
    report.row("heap blocks after loading", "heap_blocks", 1, "");
    report.row("objects", "objects", 1, "");
    report.row("  layers", "layers", 1, "");
    report.row("  attributes", "attributes", 1, "");
    report.row("  state attributes", "state_attributes", 1, "");
    report.row("resident bytes per object", "rss_bytes_per_object", 1, "B");
    report.row("heap bytes per object", "heap_bytes_per_object", 1, "B");
    report.row("heap blocks per object", "heap_blocks_per_object", 1, "");
    for (const char* key :
         {"alloc_find_attribute", "alloc_state", "alloc_as_if_string", "alloc_as_if_double"}) {
      report.row((std::string("allocations per warm ") + (key + 6)).c_str(), key, 1, "");
    }
    report.row("library log messages", "log_messages", 1, "");
    report.row("theme of 40,000 members, read", "theme_members_40000_ns", 1e6, "ms");
    report.row("theme of 80,000 members, read", "theme_members_80000_ns", 1e6, "ms");
    report.row("peak memory, 64 x 64 expansion of a 1 MB text", "expand_peak_bytes", 1048576,
               "MiB");
    report_json(report);

    std::printf("\nGoals\n");
    for (int s = 0; s < 3; ++s) {
      const std::string key =
          "render_" + std::to_string(kLargeNodes) + "_" + std::to_string(s) + "_ns";
      report.goal(std::string("re-render 10000, ") + scenarios[s] + ": baseline / current",
                  report.base(key) / report.now(key), false, 4.0);
    }
    report.goal("resident memory of the loaded interface: current / baseline",
                report.now("rss_bytes") / report.base("rss_bytes"), true, 0.4);
    report.goal("load + inherit + link: baseline / current",
                report.base("load_ns") / report.now("load_ns"), false, 2.0);
    report.goal("teardown: baseline / current",
                report.base("teardown_ns") / report.now("teardown_ns"), false, 3.0);
    report.goal("lexer + parser / nlohmann::json parse of the same content",
                report.now("lexparse_ns") / report.now("json_ns"), true, 1.0);
    for (int s = 0; s < 3; ++s) {
      std::string suffix = "_";
      suffix += std::to_string(s);
      suffix += "_ns";
      report.goal(std::string("re-render 10000 / 1000 nodes, ") + scenarios[s],
                  report.now("render_10000" + suffix) / report.now("render_1000" + suffix), true,
                  11.0);
    }
    for (const char* key :
         {"alloc_find_attribute", "alloc_state", "alloc_as_if_string", "alloc_as_if_double"}) {
      report.goal(std::string("heap allocations per warm ") + (key + 6), report.now(key), true,
                  0.0);
    }
    report.goal("library messages on the generated interface, both builds",
                report.now("log_messages") + report.base("log_messages"), true, 0.0);
    report.goal("same objects in both builds (difference)",
                std::abs(report.now("objects") - report.base("objects")), true, 0.0);
    report.goal("theme members 40,000 -> 80,000: time ratio",
                report.now("theme_members_80000_ns") / report.now("theme_members_40000_ns"), true,
                2.5);
    report.goal("peak memory of the 64 x 64 expansion of a 1 MB text (MB)",
                report.now("expand_peak_bytes") / 1e6, true, 600.0);
    report.goal("64 x 64 expansion of a 1 MB text loaded whole", report.now("expand_loaded"), false,
                1.0);
    json_goals(report);
    missed = report.missed() + report_scaling(self, rounds);
    std::printf("%d goal(s) missed\n", missed);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "compare: %s\n", error.what());
    missed = 100;
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return std::min(missed, 100);
}

}  // namespace bench
