#pragma once

// Plain timing loops and the memory probe behind the A/B comparison. Each runs
// in a process of its own (a subcommand of the benchmark binary) and prints
// "key value" lines; the same sources build against the baseline library, so
// only the public interface is used here.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "benchmarks/generator.h"

namespace bench {

// Counters of the replaced global operator new and delete.
std::size_t allocation_count();
// Live heap blocks and their usable bytes, counted only while tracking is on.
struct HeapUse {
  long long bytes = 0;
  long long blocks = 0;
};
void set_heap_tracking(bool on);
HeapUse heap_use();

// Messages the library logged since start: generated input must give none.
std::size_t log_message_count();
void install_counting_log();

// An application on the generated interface, started and rendered once.
std::unique_ptr<Ombrix::OApp> make_app(const std::string& root, const InterfaceSize& size);

// "generate DIR NODES": writes the interface and its JSON form (DIR/same.json).
int run_generate(int argc, char** argv);
// "measure SMALL_DIR SMALL_NODES LARGE_DIR LARGE_NODES": timings in nanoseconds
// (the fastest of a few repetitions), allocation counts and log messages.
int run_measure(int argc, char** argv);
// "memory DIR NODES": resident and heap growth of loading, and object counts.
int run_memory(int argc, char** argv);

// "profile TASK DIR NODES [REPS]": runs one task, each repetition inside
// bench::profiled(), for a profiler that collects there only (callgrind
// --collect-atstart=no --toggle-collect='bench::profiled*'). TASK: render0,
// render1, render2 (nothing changed, one text, theme switch), load, teardown,
// lexparse, json.
int run_profile(int argc, char** argv);

// The time `f` takes, in nanoseconds.
template <typename F>
double time_ns(F&& f) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  f();
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// The fastest repetition: other processes on the machine only ever add time.
inline double fastest(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// Runs `task`; kept out of line so that profilers can collect inside it only.
void profiled(const std::function<void()>& task);

}  // namespace bench
