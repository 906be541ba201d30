#include "benchmarks/measure.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

// Counting allocator: every heap allocation of the process passes here. Live
// bytes and blocks are only summed while tracking is on, so that the timing
// loops pay for one counter only.
namespace {
std::size_t g_allocations = 0;
bool g_tracking = false;
long long g_live_bytes = 0;
long long g_live_blocks = 0;

void* counted_allocation(std::size_t size) {
  ++g_allocations;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  if (g_tracking) {
    g_live_bytes += static_cast<long long>(malloc_usable_size(p));
    ++g_live_blocks;
  }
  return p;
}

void counted_free(void* p) noexcept {
  if (p == nullptr) return;
  if (g_tracking) {
    g_live_bytes -= static_cast<long long>(malloc_usable_size(p));
    --g_live_blocks;
  }
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
// The standard library takes temporary buffers through these; they must pair
// with the replaced deletes above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted_allocation(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_free(p); }

namespace bench {

namespace {

namespace fs = std::filesystem;

std::size_t g_log_messages = 0;

void counting_log(const std::string& message) {
  if (g_log_messages++ < 5) std::fprintf(stderr, "library log: %s\n", message.c_str());
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> drl_sources(const std::string& root) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root + "/styles")) {
    if (entry.is_regular_file() && entry.path().extension() == ".drl")
      paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> sources;
  for (const auto& path : paths) sources.push_back(read_all(path));
  return sources;
}

std::unique_ptr<Drelm::DEngine> load_engine(const std::string& root) {
  auto engine = std::make_unique<Drelm::DEngine>();
  engine->load_files(root + "/styles/widgets", "Ombrix");
  engine->load_files(root + "/styles/mounts", "");
  engine->resolve_links();
  return engine;
}

std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * std::size_t(::sysconf(_SC_PAGESIZE));
}

struct ObjectCounts {
  long long layers = 0;
  long long attributes = 0;
  long long state_attributes = 0;
  long long other = 0;
};

void count_objects(const Drelm::DObject& object, ObjectCounts& counts) {
  for (const auto& child : object.children()) {
    if (dynamic_cast<const Drelm::DLayer*>(child.get()) != nullptr) {
      ++counts.layers;
    } else if (dynamic_cast<const Drelm::DAttribute*>(child.get()) != nullptr) {
      if (dynamic_cast<const Drelm::DAttribute*>(&object) != nullptr) {
        ++counts.state_attributes;
      } else {
        ++counts.attributes;
      }
    } else {
      ++counts.other;
    }
    count_objects(*child, counts);
  }
}

void print(const char* key, double value) { std::printf("%s %.17g\n", key, value); }
void print(const std::string& key, double value) { print(key.c_str(), value); }

}  // namespace

std::size_t allocation_count() { return g_allocations; }

void set_heap_tracking(bool on) { g_tracking = on; }

HeapUse heap_use() { return HeapUse{g_live_bytes, g_live_blocks}; }

std::size_t log_message_count() { return g_log_messages; }

void install_counting_log() { Drelm::set_log_function(counting_log); }

std::unique_ptr<Ombrix::OApp> make_app(const std::string& root, const InterfaceSize& size) {
  auto app = std::make_unique<Ombrix::OApp>();
  app->root_name = "App";
  apply_states(*app, size);
  app->init(root + "/themes", root + "/styles", "Dusk (Bench)", {});
  app->lists["rows"] = make_rows(0);
  app->render_patches();
  return app;
}

int run_generate(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s generate DIR NODES\n", argv[0]);
    return 2;
  }
  const InterfaceSize size = size_for_nodes(std::atoi(argv[3]));
  const GeneratedFiles files = write_interface(size, 1, argv[2]);
  std::ofstream(files.root + "/same.json", std::ios::binary) << files.json;
  print("nodes", node_count(size));
  print("drl_bytes", double(files.drl_bytes));
  print("drl_files", double(files.drl_files.size()));
  print("json_bytes", double(files.json.size()));
  return 0;
}

int run_measure(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s measure SMALL_DIR SMALL_NODES LARGE_DIR LARGE_NODES\n",
                 argv[0]);
    return 2;
  }
  install_counting_log();
  const std::string small_dir = argv[2], large_dir = argv[4];
  const int small_nodes = std::atoi(argv[3]), large_nodes = std::atoi(argv[5]);

  // Lexer and parser over every file, alternated with JSON parsing of the same content.
  {
    const std::vector<std::string> sources = drl_sources(large_dir);
    const std::string json = read_all(large_dir + "/same.json");
    std::vector<double> lex_parse, json_parse, json_ordered;
    for (int rep = 0; rep < 9; ++rep) {
      lex_parse.push_back(time_ns([&] {
        for (const auto& source : sources) {
          // As the engine uses them: the parser takes the token list over.
          Drelm::DLexer lexer(source);
          Drelm::DParser parser(lexer.build_tokens());
          auto root = parser.parse_file();
          if (!lexer.errors().empty() || !parser.errors().empty()) ++g_log_messages;
        }
      }));
      json_parse.push_back(time_ns([&] { auto doc = nlohmann::json::parse(json); }));
      json_ordered.push_back(time_ns([&] { auto doc = nlohmann::ordered_json::parse(json); }));
    }
    print("lexparse_ns", fastest(lex_parse));
    print("json_ns", fastest(json_parse));
    print("json_ordered_ns", fastest(json_ordered));
  }

  // Load, inherit and link; then tear the tree down.
  {
    std::vector<double> load, teardown;
    for (int rep = 0; rep < 5; ++rep) {
      std::unique_ptr<Drelm::DEngine> engine;
      load.push_back(time_ns([&] { engine = load_engine(large_dir); }));
      teardown.push_back(time_ns([&] { engine.reset(); }));
    }
    print("load_ns", fastest(load));
    print("teardown_ns", fastest(teardown));
  }

  // Re-rendering: nothing changed, one text changed, theme switch.
  for (const auto& [root, nodes] :
       {std::pair{small_dir, small_nodes}, std::pair{large_dir, large_nodes}}) {
    auto app = make_app(root, size_for_nodes(nodes));
    const std::string text_path = label_path(0, 0, 0);
    const int reps = nodes > 5000 ? 7 : 31;
    int step = 0;
    for (int scenario = 0; scenario < 3; ++scenario) {
      std::vector<double> times;
      std::size_t allocations = 0;
      for (int rep = -2; rep < reps; ++rep) {  // two warm-up runs
        ++step;
        const std::size_t allocations_before = g_allocations;
        const double ns = time_ns([&] {
          if (scenario == 1) app->texts[text_path] = "Text " + std::to_string(step);
          if (scenario == 2) app->set_active_theme(step % 2 ? "Dawn (Bench)" : "Dusk (Bench)");
          auto patches = app->render_patches();
          if (patches.empty() && scenario != 0) ++g_log_messages;  // a change must show
        });
        if (rep >= 0) times.push_back(ns);
        if (rep >= 0) allocations += g_allocations - allocations_before;
      }
      const std::string name = "render_" + std::to_string(nodes) + "_" + std::to_string(scenario);
      print(name + "_ns", fastest(times));
      print(name + "_allocations", double(allocations) / reps);
    }
    if (nodes != large_nodes) continue;

    // Heap allocations per warm look-up, on a button with four active states.
    Drelm::DLayer* layer = app->engine().find_layer(item_path(0, 0, 3));
    const std::vector<std::string> states{"Desktop", "Hover", "Narrow", "Selected"};
    Drelm::DAttribute* fill = layer == nullptr ? nullptr : layer->find_attribute("Fill");
    Drelm::DAttribute* height = layer == nullptr ? nullptr : layer->find_attribute("Size.Height");
    if (fill == nullptr || height == nullptr) {
      std::fprintf(stderr, "generated button misses its attributes\n");
      return 1;
    }
    auto per_call = [](auto call) {
      call();  // warm the caches
      const std::size_t before = g_allocations;
      for (int i = 0; i < 1000; ++i) call();
      return double(g_allocations - before) / 1000.0;
    };
    volatile const void* sink = nullptr;
    print("alloc_find_attribute",
          per_call([&] { sink = layer->find_attribute("Corner Radii.Top Left"); }));
    print("alloc_state", per_call([&] { sink = fill->state(states); }));
    print("alloc_as_if_string", per_call([&] { sink = fill->as_if<std::string>(states); }));
    print("alloc_as_if_double", per_call([&] { sink = height->as_if<double>(states); }));
    (void)sink;
  }
  print("log_messages", double(g_log_messages));
  return 0;
}

int run_memory(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s memory DIR NODES\n", argv[0]);
    return 2;
  }
  install_counting_log();
  const std::string root = argv[2];
  const InterfaceSize size = size_for_nodes(std::atoi(argv[3]));
  auto app = std::make_unique<Ombrix::OApp>();
  app->root_name = "App";
  apply_states(*app, size);

  set_heap_tracking(true);
  const std::size_t rss_before = resident_bytes();
  const HeapUse heap_before = heap_use();
  const std::size_t arena_before = mallinfo2().uordblks;
  app->init(root + "/themes", root + "/styles", "Dusk (Bench)", {});
  const std::size_t rss_after = resident_bytes();
  const HeapUse heap_after = heap_use();
  const std::size_t arena_after = mallinfo2().uordblks;
  set_heap_tracking(false);

  ObjectCounts counts;
  count_objects(*app->engine().root(), counts);
  const double objects =
      double(counts.layers + counts.attributes + counts.state_attributes + counts.other);
  print("rss_bytes", double(rss_after) - double(rss_before));
  print("heap_bytes", double(heap_after.bytes - heap_before.bytes));
  print("heap_blocks", double(heap_after.blocks - heap_before.blocks));
  print("malloc_in_use_bytes", double(arena_after) - double(arena_before));
  print("objects", objects);
  print("layers", double(counts.layers));
  print("attributes", double(counts.attributes));
  print("state_attributes", double(counts.state_attributes));
  print("rss_bytes_per_object", (double(rss_after) - double(rss_before)) / objects);
  print("heap_bytes_per_object", double(heap_after.bytes - heap_before.bytes) / objects);
  print("heap_blocks_per_object", double(heap_after.blocks - heap_before.blocks) / objects);
  print("log_messages", double(g_log_messages));
  return 0;
}

__attribute__((noinline)) void profiled(const std::function<void()>& task) { task(); }

int run_profile(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fprintf(stderr, "usage: %s profile TASK DIR NODES [REPS]\n", argv[0]);
    return 2;
  }
  install_counting_log();
  const std::string task = argv[2], root = argv[3];
  const int nodes = std::atoi(argv[4]);
  const int reps = argc == 6 ? std::max(1, std::atoi(argv[5])) : 1;
  if (task.rfind("render", 0) == 0) {
    auto app = make_app(root, size_for_nodes(nodes));
    const int scenario = task == "render1" ? 1 : task == "render2" ? 2 : 0;
    app->render_patches();  // warm
    for (int step = 0; step < reps; ++step) {
      if (scenario == 1) app->texts[label_path(0, 0, 0)] = "Text " + std::to_string(step);
      profiled([&] {
        // The theme switch itself belongs to the measured work.
        if (scenario == 2) app->set_active_theme(step % 2 ? "Dusk (Bench)" : "Dawn (Bench)");
        app->render_patches();
      });
    }
  } else if (task == "load" || task == "teardown") {
    for (int rep = 0; rep < reps; ++rep) {
      std::unique_ptr<Drelm::DEngine> engine;
      if (task == "load") {
        profiled([&] { engine = load_engine(root); });
      } else {
        engine = load_engine(root);
        profiled([&] { engine.reset(); });
      }
    }
  } else if (task == "lexparse" || task == "json") {
    const std::vector<std::string> sources = drl_sources(root);
    const std::string json = read_all(root + "/same.json");
    for (int rep = 0; rep < reps; ++rep) {
      if (task == "json") {
        profiled([&] { auto doc = nlohmann::json::parse(json); });
        continue;
      }
      profiled([&] {
        for (const auto& source : sources) {
          Drelm::DLexer lexer(source);
          Drelm::DParser parser(lexer.build_tokens());
          auto parsed = parser.parse_file();
        }
      });
    }
  } else {
    std::fprintf(stderr, "unknown task %s\n", task.c_str());
    return 2;
  }
  print("log_messages", double(g_log_messages));
  return g_log_messages == 0 ? 0 : 1;
}

}  // namespace bench
