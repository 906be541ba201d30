// Benchmarks of loading and of the main road. Without a subcommand the
// Google Benchmark suite runs and checks the goals that need no baseline; the
// subcommands "generate", "measure", "memory" and "compare" serve the A/B
// comparison against a baseline build (see compare.h), and "profile" runs one
// task for a profiler (see measure.h).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "app_model/style.h"
#include "benchmarks/compare.h"
#include "benchmarks/generator.h"
#include "benchmarks/json_bench.h"
#include "benchmarks/measure.h"
#include "benchmarks/scaling.h"
#include "benchmarks/scaling_bytes.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Generated trees are shared by the benchmarks of one size and removed at exit.
struct Fixtures {
  std::map<int, bench::GeneratedFiles> interfaces;  // by node count
  std::map<int, bench::GeneratedFiles> wide;
  ~Fixtures() {
    for (auto& [n, files] : interfaces) bench::remove_tree(files.root);
    for (auto& [n, files] : wide) bench::remove_tree(files.root);
  }
};
Fixtures& fixtures() {
  static Fixtures instance;
  return instance;
}

const bench::GeneratedFiles& interface_files(int nodes) {
  auto& map = fixtures().interfaces;
  auto it = map.find(nodes);
  if (it == map.end()) {
    it = map.emplace(nodes, bench::write_interface(bench::size_for_nodes(nodes), 1)).first;
  }
  return it->second;
}

// The 10,000-node interface: about 1.3 MB of styles.
const bench::GeneratedFiles& load_files_fixture() { return interface_files(10000); }

std::unique_ptr<Ombrix::OApp> make_app(int nodes) {
  return bench::make_app(interface_files(nodes).root, bench::size_for_nodes(nodes));
}

std::vector<std::string> sources() {
  std::vector<std::string> texts;
  for (const auto& path : load_files_fixture().drl_files) texts.push_back(read_all(path));
  return texts;
}

void BM_LoadDrl(benchmark::State& state) {
  const auto& files = load_files_fixture();
  for (auto _ : state) {
    Drelm::DEngine engine;
    engine.load_files(files.root + "/styles/widgets", "Ombrix");
    engine.load_files(files.root + "/styles/mounts", "");
    engine.resolve_links();
    benchmark::DoNotOptimize(engine.root());
  }
  state.SetBytesProcessed(state.iterations() * files.drl_bytes);
  state.counters["bytes"] = double(files.drl_bytes);
}
BENCHMARK(BM_LoadDrl)->Unit(benchmark::kMillisecond);

void BM_ParseSameContentAsJson(benchmark::State& state) {
  const auto& files = load_files_fixture();
  for (auto _ : state) {
    auto json = nlohmann::json::parse(files.json);
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(state.iterations() * files.json.size());
  state.counters["bytes"] = double(files.json.size());
}
BENCHMARK(BM_ParseSameContentAsJson)->Unit(benchmark::kMillisecond);

void BM_Lexer(benchmark::State& state) {
  const auto texts = sources();
  for (auto _ : state) {
    for (const auto& text : texts) {
      Drelm::DLexer lexer(text);
      auto tokens = lexer.build_tokens();
      benchmark::DoNotOptimize(tokens.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * load_files_fixture().drl_bytes);
}
BENCHMARK(BM_Lexer)->Unit(benchmark::kMillisecond);

void BM_Parser(benchmark::State& state) {
  std::vector<std::vector<Drelm::DToken>> token_lists;
  for (const auto& text : sources()) token_lists.push_back(Drelm::DLexer(text).build_tokens());
  for (auto _ : state) {
    for (const auto& tokens : token_lists) {
      Drelm::DParser parser(tokens);
      auto root = parser.parse_file();
      benchmark::DoNotOptimize(root.layer_nodes.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * load_files_fixture().drl_bytes);
}
BENCHMARK(BM_Parser)->Unit(benchmark::kMillisecond);

void BM_LexerAndParser(benchmark::State& state) {
  const auto texts = sources();
  for (auto _ : state) {
    for (const auto& text : texts) {
      Drelm::DLexer lexer(text);
      Drelm::DParser parser(lexer.build_tokens());
      auto root = parser.parse_file();
      benchmark::DoNotOptimize(root.layer_nodes.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * load_files_fixture().drl_bytes);
}
BENCHMARK(BM_LexerAndParser)->Unit(benchmark::kMillisecond);

void BM_LoadWideLayer(benchmark::State& state) {
  const int attributes = int(state.range(0));
  auto& map = fixtures().wide;
  auto it = map.find(attributes);
  if (it == map.end()) it = map.emplace(attributes, bench::write_wide_layer(attributes)).first;
  for (auto _ : state) {
    Drelm::DEngine engine;
    engine.load_files(it->second.root, "");
    engine.resolve_links();
    benchmark::DoNotOptimize(engine.root());
  }
}
BENCHMARK(BM_LoadWideLayer)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// A button of the generated interface with four active states.
struct StyledWidget {
  std::unique_ptr<Ombrix::OApp> app = make_app(1000);
  Drelm::DLayer* layer = app->engine().find_layer(bench::item_path(0, 0, 3));
  std::vector<std::string> states{"Desktop", "Hover", "Narrow", "Selected"};
};

void BM_ResolveStyle(benchmark::State& state) {
  StyledWidget widget;
  for (auto _ : state) {
    auto style = Ombrix::resolve_style(widget.layer, widget.states);
    benchmark::DoNotOptimize(style.fill.data());
  }
}
BENCHMARK(BM_ResolveStyle)->Unit(benchmark::kMicrosecond);

// Heap allocations per call on a warm cache, counted by the replaced operator new.
template <typename Call>
void count_allocations(benchmark::State& state, Call call) {
  call();  // warm the caches
  const std::size_t before = bench::allocation_count();
  for (auto _ : state) call();
  state.counters["allocations"] = double(bench::allocation_count() - before) /
                                  double(std::max<std::int64_t>(state.iterations(), 1));
}

void BM_AllocationsFindAttribute(benchmark::State& state) {
  StyledWidget widget;
  count_allocations(state, [&] {
    benchmark::DoNotOptimize(widget.layer->find_attribute("Corner Radii.Top Left"));
  });
}
BENCHMARK(BM_AllocationsFindAttribute)->Unit(benchmark::kNanosecond);

void BM_AllocationsState(benchmark::State& state) {
  StyledWidget widget;
  Drelm::DAttribute* fill = widget.layer->find_attribute("Fill");
  count_allocations(state, [&] { benchmark::DoNotOptimize(fill->state(widget.states)); });
}
BENCHMARK(BM_AllocationsState)->Unit(benchmark::kNanosecond);

void BM_AllocationsAsIf(benchmark::State& state) {
  StyledWidget widget;
  Drelm::DAttribute* fill = widget.layer->find_attribute("Fill");
  count_allocations(state,
                    [&] { benchmark::DoNotOptimize(fill->as_if<std::string>(widget.states)); });
}
BENCHMARK(BM_AllocationsAsIf)->Unit(benchmark::kNanosecond);

int count_nodes(const Ombrix::RenderNode& node) {
  int count = 1;
  for (const auto& child : node.children) count += count_nodes(child);
  return count;
}

enum Scenario { kNothing = 0, kOneText = 1, kThemeSwitch = 2, kRowAdded = 3 };

template <bool kJson>
void BM_Render(benchmark::State& state) {
  const int nodes = int(state.range(0));
  const auto scenario = Scenario(state.range(1));
  auto app = make_app(nodes);
  if (scenario == kRowAdded) {
    app->lists["rows"] = bench::make_rows(1000);
    app->render_patches();
  }
  const std::string text_path = bench::label_path(0, 0, 0);
  int step = 0;
  for (auto _ : state) {
    ++step;
    switch (scenario) {
      case kNothing:
        break;
      case kOneText:
        app->texts[text_path] = "Text " + std::to_string(step);
        break;
      case kThemeSwitch:
        app->set_active_theme(step % 2 ? "Dawn (Bench)" : "Dusk (Bench)");
        break;
      case kRowAdded: {
        auto row = bench::make_rows(1);
        row[0].id = "added";
        app->lists["rows"].push_back(std::move(row[0]));
        break;
      }
    }
    if constexpr (kJson) {
      auto json = app->render_patches_json();
      benchmark::DoNotOptimize(json.data());
    } else {
      auto patches = app->render_patches();
      benchmark::DoNotOptimize(patches.data());
    }
    if (scenario == kRowAdded) {
      state.PauseTiming();
      app->lists["rows"].pop_back();
      app->render_patches();
      state.ResumeTiming();
    }
  }
  state.counters["nodes"] = double(count_nodes(app->build_render_tree()));
}
void render_args(benchmark::internal::Benchmark* b) {
  for (int scenario : {kNothing, kOneText, kThemeSwitch, kRowAdded}) {
    for (int nodes : {1000, 10000}) b->Args({nodes, scenario});
  }
  b->ArgNames({"nodes", "scenario"})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Render<false>)->Name("BM_RenderPatches")->Apply(render_args);
BENCHMARK(BM_Render<true>)->Name("BM_RenderPatchesJson")->Apply(render_args);

// Collects each benchmark's time so the goals can be checked after the run.
class GoalReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  std::map<std::string, double> allocations;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double multiplier = benchmark::GetTimeUnitMultiplier(run.time_unit);
      seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / multiplier;
      auto it = run.counters.find("allocations");
      if (it != run.counters.end()) allocations[run.benchmark_name()] = it->second.value;
    }
  }
};

int check_goals(const GoalReporter& reporter) {
  int failed = 0;
  auto time = [&](const std::string& name) {
    auto it = reporter.seconds.find(name);
    return it == reporter.seconds.end() ? 0.0 : it->second;
  };
  auto goal = [&](const std::string& what, double value, double limit) {
    if (value == 0.0) return;  // filtered out
    const bool ok = value <= limit;
    failed += ok ? 0 : 1;
    std::printf("%-66s %8.2f (goal <= %.1f) %s\n", what.c_str(), value, limit,
                ok ? "ok" : "MISSED");
  };
  auto info = [&](const std::string& what, double value) {
    if (value != 0.0) std::printf("%-66s %8.2f\n", what.c_str(), value);
  };
  std::printf("\nGoals\n");
  if (time("BM_ParseSameContentAsJson") > 0) {
    goal("lexer + parser / parse the same content as JSON",
         time("BM_LexerAndParser") / time("BM_ParseSameContentAsJson"), 1.0);
    info("load + inherit + link / parse the same content as JSON",
         time("BM_LoadDrl") / time("BM_ParseSameContentAsJson"));
  }
  if (time("BM_LoadWideLayer/100") > 0) {
    goal("load one layer of 1000 attributes / of 100",
         time("BM_LoadWideLayer/1000") / time("BM_LoadWideLayer/100"), 12.0);
  }
  const char* names[] = {"nothing changed", "one text changed", "theme switch", "row added"};
  for (const char* bench : {"BM_RenderPatches", "BM_RenderPatchesJson"}) {
    for (int scenario = 0; scenario < 4; ++scenario) {
      const std::string small =
          std::string(bench) + "/nodes:1000/scenario:" + std::to_string(scenario);
      const std::string large =
          std::string(bench) + "/nodes:10000/scenario:" + std::to_string(scenario);
      if (time(small) > 0) {
        goal(std::string(bench) + " 10000 / 1000 nodes, " + names[scenario],
             time(large) / time(small), 11.0);
      }
    }
  }
  for (const auto& [name, count] : reporter.allocations) {
    std::printf("%-66s %8.2f (goal == 0) %s\n", (name + " allocations per look-up").c_str(), count,
                count == 0 ? "ok" : "MISSED");
    failed += count == 0 ? 0 : 1;
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string command = argv[1];
    if (command == "generate") return bench::run_generate(argc, argv);
    if (command == "measure") return bench::run_measure(argc, argv);
    if (command == "memory") return bench::run_memory(argc, argv);
    if (command == "compare") return bench::run_compare(argc, argv);
    if (command == "profile") return bench::run_profile(argc, argv);
    if (command == "scaling") return bench::run_scaling(argc, argv);
    if (command == "scaling-bytes") return bench::run_scaling_bytes(argc, argv);
    if (command == "measure-json") return bench::run_measure_json(argc, argv);
    if (command == "profile-json") return bench::run_profile_json(argc, argv);
  }
  bench::install_counting_log();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  GoalReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int failed = check_goals(reporter);
  benchmark::Shutdown();
  std::printf("%d goal(s) missed, %zu library message(s)\n", failed, bench::log_message_count());
  return failed == 0 && bench::log_message_count() == 0 ? 0 : 1;
}
