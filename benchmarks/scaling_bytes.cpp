#include "benchmarks/scaling_bytes.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "app_model/app.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kExpandedTextBytes = 1024 * 1024;

std::string alternatives(char prefix) {
  std::string list = "(";
  for (int i = 0; i < 64; ++i) {
    if (i > 0) list += ", ";
    list += prefix + std::to_string(i);
  }
  return list + ")";
}

// Nanoseconds that add_theme_json takes, or a negative number when it reads no theme.
double reading_ns(const std::string& text) {
  Ombrix::OApp app;
  const auto start = std::chrono::steady_clock::now();
  const std::string id = app.add_theme_json(text);
  const auto stop = std::chrono::steady_clock::now();
  return id.empty() ? -1 : std::chrono::duration<double, std::nano>(stop - start).count();
}

}  // namespace

std::string theme_with_members(std::size_t members) {
  std::string text = R"({"Wide": {"_meta": {"publisher": "Bench"})";
  for (std::size_t i = 0; i < members; ++i) {
    text += ", \"Member " + std::to_string(i) + "\": \"#ff" + std::to_string(100000 + i % 900000) +
            "\"";
  }
  return text + "}}";
}

std::string expanded_text_source(std::size_t text_bytes) {
  return alternatives('a') + " " + alternatives('b') + ": \"" + std::string(text_bytes, 'x') +
         "\"\n";
}

int run_scaling_bytes(int argc, char** argv) {
  const std::string kind = argc >= 3 ? argv[2] : "";
  if (kind == "theme" && argc == 3) {
    // Alternating, so that a busy spell of the machine slows both sizes.
    const std::size_t sizes[2] = {40000, 80000};
    const std::string texts[2] = {theme_with_members(sizes[0]), theme_with_members(sizes[1])};
    double best[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    for (int repetition = 0; repetition < 7; ++repetition) {
      for (int i = 0; i < 2; ++i) {
        const double ns = reading_ns(texts[i]);
        if (ns < 0) {
          std::fprintf(stderr, "scaling-bytes: the theme of %zu members was not read\n", sizes[i]);
          return 1;
        }
        best[i] = std::min(best[i], ns);
      }
    }
    for (int i = 0; i < 2; ++i) std::printf("theme_members_%zu_ns %.17g\n", sizes[i], best[i]);
    return 0;
  }
  if (kind == "expand" && argc == 4) {
    const fs::path dir = argv[3];
    fs::create_directories(dir);
    std::ofstream(dir / "expanded.drl", std::ios::binary)
        << expanded_text_source(kExpandedTextBytes);
    Drelm::DEngine engine;
    engine.load_files(dir.string(), "");
    // The last of the 4096 attributes, to tell a load from a refusal.
    const Drelm::DAttribute* last = engine.root()->find_attribute("a63 b63");
    const auto* text = last != nullptr ? std::get_if<std::string>(&last->value()) : nullptr;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("expand_loaded %d\n", text != nullptr && text->size() == kExpandedTextBytes);
    std::printf("expand_peak_bytes %.17g\n", double(usage.ru_maxrss) * 1024);
    return 0;
  }
  std::fprintf(stderr, "usage: %s scaling-bytes theme | scaling-bytes expand DIR\n", argv[0]);
  return 2;
}

}  // namespace bench
