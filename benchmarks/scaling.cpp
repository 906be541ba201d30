#include "benchmarks/scaling.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "benchmarks/collisions.h"
#include "benchmarks/measure.h"
#include "theme_language/engine.h"

namespace bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Above this a doubling costs clearly more than twice the time.
constexpr double kMaxRatio = 2.5;

// N bodiless layers in one block.
std::string sibling_layers(int count) {
  std::string source = "Siblings:\n";
  for (int i = 0; i < count; ++i) source += " Sibling" + std::to_string(i) + "\n";
  return source;
}

// A1 links to A0, A2 to A1, and so on, declared (and so resolved) in order.
std::string link_chain(int count) {
  std::string source = "Chain:\n A0: 1\n";
  for (int i = 1; i < count; ++i) {
    source += " A" + std::to_string(i) + ": A" + std::to_string(i - 1) + "\n";
  }
  return source;
}

// One attribute below a path of `depth` layers.
std::string path_depth(int depth) {
  std::string source;
  for (int i = 0; i < depth; ++i) source += "L/";
  return source + "Leaf: 1\n";
}

// What a case generates: a source file, loaded by an engine, or a theme,
// installed by add_theme_json.
enum class Input { source, theme };

struct Case {
  const char* name;
  std::string (*generate)(int);
  int small;
  // A load of the small input takes well under a millisecond: timed this many
  // times in a row, so that the clock's resolution and a stray interrupt
  // weigh little.
  int loads_per_sample;
  Input input = Input::source;
};

const Case kCases[] = {
    {"siblings", sibling_layers, 40000, 1},
    {"link_chain", link_chain, 50000, 1},
    {"path_depth", path_depth, 500, 20},
    {"theme_members", theme_members, 40000, 1, Input::theme},
    {"theme_members_colliding", theme_members_colliding, 40000, 1, Input::theme},
    {"theme_members_nested", theme_members_nested, 40000, 1, Input::theme},
    {"theme_members_nested_colliding", theme_members_nested_colliding, 40000, 1, Input::theme},
    {"layer_names_colliding", layer_names_colliding, 20000, 1},
    {"attribute_names_colliding", attribute_names_colliding, 20000, 1},
};

// One sample: loading the directory `loads` times and resolving its links;
// the teardown is left out.
double load_ns(const std::string& directory, int loads) {
  std::vector<std::unique_ptr<Drelm::DEngine>> engines;
  for (int i = 0; i < loads; ++i) engines.push_back(std::make_unique<Drelm::DEngine>());
  const auto start = Clock::now();
  for (auto& engine : engines) {
    engine->load_files(directory, "");
    engine->resolve_links();
  }
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// As load_ns, for a theme: installing the text `loads` times, each into an
// application of its own.
double theme_ns(const std::string& text, int loads) {
  std::vector<std::unique_ptr<Ombrix::OApp>> apps;
  for (int i = 0; i < loads; ++i) apps.push_back(std::make_unique<Ombrix::OApp>());
  const auto start = Clock::now();
  for (auto& app : apps) {
    if (app->add_theme_json(text).empty()) throw std::runtime_error("theme not installed");
  }
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

void print(const std::string& key, double value) { std::printf("%s %.17g\n", key.c_str(), value); }

}  // namespace

int run_scaling(int argc, char** argv) {
  if (argc > 3) {
    std::fprintf(stderr, "usage: %s scaling [SAMPLES]\n", argv[0]);
    return 2;
  }
  // Fewer samples let a slow build be measured in reasonable time.
  const int samples = argc == 3 ? std::max(1, std::atoi(argv[2])) : 7;
  install_counting_log();
  // Freed memory stays with the process, so that samples reuse warm pages.
  // Otherwise each sample faults its memory in afresh, and the allocator
  // hands the larger input more of its blocks straight from the kernel: the
  // ratio then counts the kernel's page faults (2.4 times as many), not the
  // library's work.
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
  ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
  const fs::path work =
      fs::temp_directory_path() / ("ombrix-scaling-" + std::to_string(::getpid()));
  int status = 0;
  try {
    for (const Case& scaled : kCases) {
      // A theme's text, or the directory of a source.
      std::string inputs[2];
      for (int side = 0; side < 2; ++side) {
        if (scaled.input == Input::theme) {
          inputs[side] = scaled.generate(scaled.small << side);
          continue;
        }
        const fs::path directory = work / (std::string(scaled.name) + std::to_string(side));
        fs::create_directories(directory);
        std::ofstream(directory / "scaled.drl", std::ios::binary)
            << scaled.generate(scaled.small << side);
        inputs[side] = directory.string();
      }
      // The sizes take turns, so that both meet the same load on the machine;
      // each keeps its fastest sample, as other processes only ever add time.
      double ns[2] = {0, 0};
      for (int sample = 0; sample < samples; ++sample) {
        for (int side = 0; side < 2; ++side) {
          const double taken = scaled.input == Input::theme
                                   ? theme_ns(inputs[side], scaled.loads_per_sample)
                                   : load_ns(inputs[side], scaled.loads_per_sample);
          if (sample == 0 || taken < ns[side]) ns[side] = taken;
        }
      }
      const std::string key = std::string("scaling_") + scaled.name;
      print(key + "_small_ns", ns[0]);
      print(key + "_large_ns", ns[1]);
      print(key + "_ratio", ns[1] / ns[0]);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scaling: %s\n", error.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  // Generated input must load without a message.
  print("scaling_log_messages", double(log_message_count()));
  return status;
}

int report_scaling(const std::string& self, int rounds) {
  // The goals printed so far come first, not in between the progress lines.
  std::fflush(stdout);
  std::map<std::string, std::vector<double>> figures;
  for (int round = 0; round < rounds; ++round) {
    std::fprintf(stderr, "round %d/%d: scaling\n", round + 1, rounds);
    const std::string command = "'" + self + "' scaling";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char key[128];
    double value = 0;
    while (std::fscanf(pipe, "%127s %lf", key, &value) == 2) figures[key].push_back(value);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
  }
  const auto median = [&figures](const std::string& key) {
    std::vector<double> values = figures[key];
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  };
  int missed = 0;
  std::printf("\nScaling: load time when the input doubles (median of %d rounds)\n", rounds);
  for (const Case& scaled : kCases) {
    const std::string key = std::string("scaling_") + scaled.name;
    const double ratio = median(key + "_ratio");
    const bool ok = ratio > 0 && ratio <= kMaxRatio;
    missed += ok ? 0 : 1;
    const std::string what = std::string(scaled.name) + " " + std::to_string(scaled.small) +
                             " -> " + std::to_string(scaled.small * 2) + " (" +
                             std::to_string(median(key + "_small_ns") / 1e6) + " ms -> " +
                             std::to_string(median(key + "_large_ns") / 1e6) + " ms)";
    std::printf("  %-62s %8.3f  (goal <= %.2f)  %s\n", what.c_str(), ratio, kMaxRatio,
                ok ? "ok" : "MISSED");
  }
  const double messages = median("scaling_log_messages");
  missed += messages == 0 ? 0 : 1;
  std::printf("  %-62s %8.0f  (goal == 0)  %s\n", "library messages on the scaled inputs", messages,
              messages == 0 ? "ok" : "MISSED");
  return missed;
}

}  // namespace bench
