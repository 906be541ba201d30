#include "benchmarks/scaling.h"

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "benchmarks/collisions.h"
#include "benchmarks/measure.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Above this a doubling costs clearly more than twice the time.
constexpr double kMaxRatio = 2.5;
// Below this the fixed costs of a load could hide a term that grows faster.
constexpr double kMinInputBytes = 1024 * 1024;
// A healthy case takes a few seconds; one that grows with the square of its
// input takes minutes, and is stopped here rather than holding up the rest.
constexpr unsigned kCaseSeconds = 60;
// Past this, a case takes no further samples once both sizes have one.
constexpr double kSamplingBudgetNs = 10e9;

std::string number(int i) { return std::to_string(i); }

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// --- Sources, each one construct repeated `count` times ---------------------

// Bodiless layers in one block.
std::string sibling_layers(int count) {
  std::string source = "Siblings:\n";
  for (int i = 0; i < count; ++i) source += " Sibling" + number(i) + "\n";
  return source;
}

// Attributes in one block.
std::string sibling_attributes(int count) {
  std::string source = "Siblings:\n";
  for (int i = 0; i < count; ++i) source += " A" + number(i) + ": " + number(i) + "\n";
  return source;
}

// Chains of bases: a finalize that walks them is bounded in length, so the
// chains grow in length and not in number.
constexpr int kBaseChains = 32;

std::string chain_link(int chain, int i) {
  return "B" + number(chain) + "_" + number(i) + " << B" + number(chain) + "_" + number(i - 1) +
         "\n";
}

// In each chain B0 derives nothing, B1 derives from B0, B2 from B1, and so
// on, each declared after its base.
std::string base_chain(int length) {
  std::string source;
  for (int chain = 0; chain < kBaseChains; ++chain) {
    source += "B" + number(chain) + "_0:\n X: 1\n";
    for (int i = 1; i < length; ++i) source += chain_link(chain, i);
  }
  return source;
}

// The same chains, each layer declared before its base.
std::string base_chain_reversed(int length) {
  std::string source;
  for (int chain = 0; chain < kBaseChains; ++chain) {
    for (int i = length - 1; i > 0; --i) source += chain_link(chain, i);
    source += "B" + number(chain) + "_0:\n X: 1\n";
  }
  return source;
}

// One attribute with a value for each of many states.
std::string states_per_attribute(int count) {
  std::string source = "A:\n X: 0\n";
  for (int i = 0; i < count; ++i) source += "  @s" + number(i) + ": " + number(i) + "\n";
  return source;
}

// State-sets in one layer, each giving a shared attribute and one of its own.
std::string state_sets(int count) {
  std::string source = "A:\n X: 0\n";
  for (int i = 0; i < count; ++i) {
    source += " @s" + number(i) + ":\n  X: " + number(i) + "\n  Y" + number(i) + ": 1\n";
  }
  return source;
}

// Group-sets in one layer, two members each.
std::string group_sets(int count) {
  std::string source = "A:\n";
  for (int i = 0; i < count; ++i) {
    source += " G" + number(i) + ".\n  Left: " + number(i) + "\n  Right: 1\n";
  }
  return source;
}

// One group-set of many members.
std::string group_set_members(int count) {
  std::string source = "A:\n G.\n";
  for (int i = 0; i < count; ++i) source += "  M" + number(i) + ": " + number(i) + "\n";
  return source;
}

// Declarations of four attributes each, by two expansions.
std::string expansions(int count) {
  std::string source = "A:\n";
  for (int i = 0; i < count; ++i) {
    source += " E" + number(i) + ".(Top, Bottom) (Left, Right): " + number(i) + "\n";
  }
  return source;
}

// One declaration with many alternatives.
std::string expansion_alternatives(int count) {
  std::string source = "A:\n (";
  for (int i = 0; i < count; ++i) source += (i > 0 ? ", a" : "a") + number(i);
  return source + "): 1\n";
}

// A1 links to A0, A2 to A1, and so on, declared (and so resolved) in order.
std::string link_chain(int count) {
  std::string source = "Chain:\n A0: 1\n";
  for (int i = 1; i < count; ++i) source += " A" + number(i) + ": A" + number(i - 1) + "\n";
  return source;
}

// A0 links to A1, A1 to A2, and so on: each link resolved before its target's.
std::string link_chain_reversed(int count) {
  std::string source = "Chain:\n";
  for (int i = 0; i + 1 < count; ++i) source += " A" + number(i) + ": A" + number(i + 1) + "\n";
  return source + " A" + number(count - 1) + ": 1\n";
}

std::string links_to_one_target(int count) {
  std::string source = "Links:\n Target: 1\n";
  for (int i = 0; i < count; ++i) source += " A" + number(i) + ": Target\n";
  return source;
}

// One attribute whose states link to as many attributes.
std::string links_from_one_source(int count) {
  std::string source = "Targets:\n";
  for (int i = 0; i < count; ++i) source += " T" + number(i) + ": " + number(i) + "\n";
  source += "Source:\n X: Targets/T0\n";
  for (int i = 0; i < count; ++i) source += "  @s" + number(i) + ": Targets/T" + number(i) + "\n";
  return source;
}

// 1,100 attributes below one path of `depth` layers, each line naming it
// whole. The depth stays under the loader's nesting bound.
std::string path_depth(int depth) {
  std::string path;
  for (int i = 0; i < depth; ++i) path += "L/";
  std::string source;
  for (int i = 0; i < 1100; ++i) source += path + "A" + number(i) + ": 1\n";
  return source;
}

// A small layer of `attributes` attributes, as one of many files holds.
std::string small_file(const std::string& layer, int attributes) {
  std::string source = layer + ":\n";
  for (int i = 0; i < attributes; ++i) source += " A" + number(i) + ": " + number(i) + "\n";
  return source;
}

// --- Writers: what one case loads, in an empty directory ---------------------

template <std::string (*Generate)(int)>
void one_file(const fs::path& directory, int count) {
  write_file(directory / "scaled.drl", Generate(count));
}

void files_per_directory(const fs::path& directory, int count) {
  for (int i = 0; i < count; ++i) {
    write_file(directory / ("f" + number(i) + ".drl"), small_file("F" + number(i), 18));
  }
}

// One file per level of a chain of directories, a name of one letter each,
// so that twice the depth still fits in a path.
void directory_depth(const fs::path& directory, int count) {
  fs::path level = directory;
  for (int i = 0; i < count; ++i) {
    level /= "d";
    fs::create_directory(level);
    write_file(level / "f.drl", small_file("D" + number(i), 130));
  }
}

// Widgets, one interface layer and a theme: the small load beside a tree
// that a program built.
void beside_program_tree(const fs::path& directory, int) {
  fs::create_directories(directory / "styles" / "widgets");
  fs::create_directories(directory / "styles" / "mounts");
  fs::create_directories(directory / "themes");
  write_file(directory / "styles" / "widgets" / "widgets.drl",
             "Box:\n Layout.Direction: \"column\"\nText << Box:\n Font.Size: 13\n");
  write_file(directory / "styles" / "mounts" / "beside.drl",
             "Beside << Ombrix/Box:\n Fill: Theme/Primary\n Title << Ombrix/Text:\n"
             "  Text: \"Beside\"\nTheme:\n Primary: #303030\n");
  write_file(directory / "themes" / "plain.json",
             R"({"Plain": {"_meta": {"publisher": "Bench"}, "Primary": "#404040"}})");
}

// --- Samples -----------------------------------------------------------------

// Loading the directory `loads` times and resolving its links; the teardown is
// left out.
double load_ns(const std::string& directory, int, int loads) {
  std::vector<std::unique_ptr<Drelm::DEngine>> engines;
  for (int i = 0; i < loads; ++i) engines.push_back(std::make_unique<Drelm::DEngine>());
  const auto start = Clock::now();
  for (auto& engine : engines) {
    engine->load_files(directory, "");
    engine->resolve_links();
  }
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// A theme's text in a file of the directory, for the theme rows.
template <std::string (*Generate)(int)>
void theme_file(const fs::path& directory, int count) {
  write_file(directory / "theme.json", Generate(count));
}

// As load_ns, for a theme: installing the text `loads` times, each into an
// application of its own.
double theme_ns(const std::string& directory, int, int loads) {
  std::ifstream in(fs::path(directory) / "theme.json", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::unique_ptr<Ombrix::OApp>> apps;
  for (int i = 0; i < loads; ++i) apps.push_back(std::make_unique<Ombrix::OApp>());
  const auto start = Clock::now();
  for (auto& app : apps) {
    if (app->add_theme_json(text).empty()) throw std::runtime_error("theme not installed");
  }
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// A program nests `depth` layers through the public calls, the application
// loads the small directory beside them and renders it, and everything is
// destroyed: all of it timed, as each step walks the whole tree.
double program_tree_ns(const std::string& directory, int depth, int) {
  const auto start = Clock::now();
  {
    Ombrix::OApp app;
    Drelm::DLayer* layer = Drelm::dMake<Drelm::DLayer>(app.engine().root(), "Deep");
    for (int i = 1; i < depth; ++i) layer = Drelm::dMake<Drelm::DLayer>(layer, "Level");
    app.root_name = "Beside";
    if (!app.init(directory + "/themes", directory + "/styles", "Plain (Bench)", {})) {
      throw std::runtime_error("no theme beside the program's tree");
    }
    if (app.render_patches().empty()) throw std::runtime_error("nothing rendered beside the tree");
  }
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

struct Case {
  const char* name;
  // Writes the input of the size `count` into an empty directory.
  void (*write)(const fs::path& directory, int count);
  int small;
  // A load of the small input that takes well under a millisecond is timed
  // this many times in a row, so that the clock's resolution and a stray
  // interrupt weigh little.
  int loads_per_sample = 1;
  // One sample: the time taken over what write() made.
  double (*sample)(const std::string& directory, int count, int loads) = load_ns;
  // What the small input must hold; a tree built by a program reads little.
  double min_bytes = kMinInputBytes;
};

// One row per construct of the language, and one for each way of nesting
// trees; a construct the language gains gets its row here. The small sizes
// make a load of tens of milliseconds from at least a MiB of input.
const Case kCases[] = {
    {"siblings", one_file<sibling_layers>, 80000},
    {"attribute_siblings", one_file<sibling_attributes>, 80000},
    {"base_chain", one_file<base_chain>, 2000},
    {"base_chain_reversed", one_file<base_chain_reversed>, 2000},
    {"states_per_attribute", one_file<states_per_attribute>, 80000},
    {"state_sets", one_file<state_sets>, 40000},
    {"group_sets", one_file<group_sets>, 40000},
    {"group_set_members", one_file<group_set_members>, 80000},
    {"expansions", one_file<expansions>, 25000},
    {"expansion_alternatives", one_file<expansion_alternatives>, 130000},
    {"link_chain", one_file<link_chain>, 80000},
    {"link_chain_reversed", one_file<link_chain_reversed>, 80000},
    {"links_to_one_target", one_file<links_to_one_target>, 80000},
    {"links_from_one_source", one_file<links_from_one_source>, 40000},
    {"path_depth", one_file<path_depth>, 500},
    {"files_per_directory", files_per_directory, 8000},
    {"directory_depth", directory_depth, 900},
    {"program_tree_depth", beside_program_tree, 500000, 1, program_tree_ns, 0},
    // Names an author may choose so that they share one hash.
    {"theme_members", theme_file<theme_members>, 40000, 1, theme_ns},
    {"theme_members_colliding", theme_file<theme_members_colliding>, 40000, 1, theme_ns},
    {"theme_members_nested", theme_file<theme_members_nested>, 40000, 1, theme_ns},
    {"theme_members_nested_colliding", theme_file<theme_members_nested_colliding>, 40000, 1,
     theme_ns},
    {"layer_names_colliding", one_file<layer_names_colliding>, 24000},
    {"attribute_names_colliding", one_file<attribute_names_colliding>, 24000},
};

const Case* find_case(const std::string& name) {
  for (const Case& scaled : kCases) {
    if (name == scaled.name) return &scaled;
  }
  return nullptr;
}

double directory_bytes(const fs::path& directory) {
  double bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    if (entry.is_regular_file()) bytes += double(entry.file_size());
  }
  return bytes;
}

void print(const std::string& key, double value) { std::printf("%s %.17g\n", key.c_str(), value); }

int run_case(const Case& scaled, int samples, int small) {
  // Stops a case whose time grows far faster than its input (SIGALRM).
  ::alarm(kCaseSeconds);
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
    std::string directories[2];
    const int counts[2] = {small, small * 2};
    for (int side = 0; side < 2; ++side) {
      const fs::path directory = work / (std::string(scaled.name) + std::to_string(side));
      fs::create_directories(directory);
      scaled.write(directory, counts[side]);
      directories[side] = directory.string();
    }
    // The sizes take turns, so that both meet the same load on the machine;
    // each keeps its fastest sample, as other processes only ever add time.
    double ns[2] = {0, 0};
    double spent = 0;
    for (int sample = 0; sample < samples && (sample == 0 || spent < kSamplingBudgetNs); ++sample) {
      for (int side = 0; side < 2; ++side) {
        const double taken =
            scaled.sample(directories[side], counts[side], scaled.loads_per_sample);
        spent += taken;
        if (sample == 0 || taken < ns[side]) ns[side] = taken;
      }
    }
    const std::string key = std::string("scaling_") + scaled.name;
    print(key + "_small_ns", ns[0]);
    print(key + "_large_ns", ns[1]);
    print(key + "_ratio", ns[1] / ns[0]);
    print(key + "_small_bytes", directory_bytes(directories[0]));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scaling %s: %s\n", scaled.name, error.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  // Generated input must load without a message.
  print("scaling_log_messages", double(log_message_count()));
  return status;
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs one case in a process of its own and adds what it prints to
// `figures`. Returns why it failed, or an empty text.
std::string run_case_process(const std::string& self, const Case& scaled, int samples,
                             std::map<std::string, double>& figures) {
  std::fflush(stdout);
  const std::string command =
      "exec " + quoted(self) + " scaling " + std::to_string(samples) + " " + scaled.name;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "could not be started";
  char key[128];
  double value = 0;
  while (std::fscanf(pipe, "%127s %lf", key, &value) == 2) figures[key] = value;
  const int status = ::pclose(pipe);
  if (status == -1) return "could not be waited for";
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGALRM) return "TIMED OUT (" + std::to_string(kCaseSeconds) + " s)";
    return std::string("CRASHED (") + ::strsignal(signal) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "FAILED (exit " + std::to_string(WEXITSTATUS(status)) + ")";
  }
  return "";
}

std::string self_path(const char* argv0) {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(argv0) : self.string();
}

}  // namespace

int run_scaling(int argc, char** argv) {
  if (argc > 5) {
    std::fprintf(stderr, "usage: %s scaling [SAMPLES [CASE [SMALL]]]\n", argv[0]);
    return 2;
  }
  // Fewer samples let a slow build be measured in reasonable time.
  const int samples = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 7;
  if (argc >= 4) {
    const Case* scaled = find_case(argv[3]);
    if (scaled == nullptr) {
      std::fprintf(stderr, "scaling: no case named %s\n", argv[3]);
      return 2;
    }
    const int small = argc == 5 ? std::max(1, std::atoi(argv[4])) : scaled->small;
    return run_case(*scaled, samples, small);
  }
  const std::string self = self_path(argv[0]);
  int status = 0;
  double messages = 0;
  for (const Case& scaled : kCases) {
    std::map<std::string, double> figures;
    const std::string failure = run_case_process(self, scaled, samples, figures);
    messages += figures["scaling_log_messages"];
    figures.erase("scaling_log_messages");
    for (const auto& [key, value] : figures) print(key, value);
    if (!failure.empty()) {
      std::fprintf(stderr, "scaling %s: %s\n", scaled.name, failure.c_str());
      print(std::string("scaling_") + scaled.name + "_failed", 1);
      status = 1;
    }
  }
  print("scaling_log_messages", messages);
  return status;
}

int report_scaling(const std::string& self, int rounds) {
  // The goals printed so far come first, not in between the progress lines.
  std::fflush(stdout);
  std::map<std::string, std::vector<double>> figures;
  std::map<std::string, std::string> failures;  // by case
  for (int round = 0; round < rounds; ++round) {
    std::fprintf(stderr, "round %d/%d: scaling\n", round + 1, rounds);
    double messages = 0;
    for (const Case& scaled : kCases) {
      if (failures.count(scaled.name) != 0) continue;
      std::map<std::string, double> printed;
      const std::string failure = run_case_process(self, scaled, 7, printed);
      if (!failure.empty()) failures[scaled.name] = failure;
      messages += printed["scaling_log_messages"];
      printed.erase("scaling_log_messages");
      if (!failure.empty()) continue;
      for (const auto& [key, value] : printed) figures[key].push_back(value);
    }
    figures["scaling_log_messages"].push_back(messages);
  }
  const auto median = [&figures](const std::string& key) {
    std::vector<double> values = figures[key];
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  };
  int missed = 0;
  std::printf("\nScaling: time when the input doubles (median of %d rounds)\n", rounds);
  for (const Case& scaled : kCases) {
    const std::string key = std::string("scaling_") + scaled.name;
    const double ratio = median(key + "_ratio");
    const double bytes = median(key + "_small_bytes");
    const auto failed = failures.find(scaled.name);
    std::string verdict;
    if (failed != failures.end()) {
      verdict = failed->second;
    } else if (bytes < scaled.min_bytes) {
      verdict = "MISSED (input under 1 MiB)";
    } else {
      verdict = ratio > 0 && ratio <= kMaxRatio ? "ok" : "MISSED";
    }
    missed += verdict == "ok" ? 0 : 1;
    char what[160];
    if (failed != failures.end()) {
      std::snprintf(what, sizeof what, "%s %d -> %d", scaled.name, scaled.small, scaled.small * 2);
      std::printf("  %-72s %8s  (goal <= %.2f)  %s\n", what, "-", kMaxRatio, verdict.c_str());
      continue;
    }
    std::snprintf(what, sizeof what, "%s %d -> %d (%.2f MiB, %.1f ms -> %.1f ms)", scaled.name,
                  scaled.small, scaled.small * 2, bytes / kMinInputBytes,
                  median(key + "_small_ns") / 1e6, median(key + "_large_ns") / 1e6);
    std::printf("  %-72s %8.3f  (goal <= %.2f)  %s\n", what, ratio, kMaxRatio, verdict.c_str());
  }
  const double messages = median("scaling_log_messages");
  missed += messages == 0 ? 0 : 1;
  std::printf("  %-72s %8.0f  (goal == 0)  %s\n", "library messages on the scaled inputs", messages,
              messages == 0 ? "ok" : "MISSED");
  return missed;
}

}  // namespace bench
