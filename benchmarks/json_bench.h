#pragma once

// Timings of the JSON forms for the A/B comparison: writing the render tree,
// a theme switch written as JSON beside the same switch as records, and the
// heap allocations of writing. Like measure.h, only the public interface is
// used, so the same source builds against the baseline library.

#include <string>

namespace bench {

// "measure-json DIR NODES [TREE_OUT]": prints json_* "key value" lines; with
// TREE_OUT, also writes the render tree's JSON there (for the script engine).
int run_measure_json(int argc, char** argv);

// "profile-json TASK DIR NODES [REPS]": TASK tree (render_tree_json) or switch
// (a theme switch and render_patches_json), each repetition inside
// bench::profiled().
int run_profile_json(int argc, char** argv);

// Node's JSON.stringify of the tree in `tree_file`, parsed once: the fastest of
// a few repetitions in nanoseconds; a negative value when node cannot run.
double node_stringify_ns(const std::string& tree_file);

}  // namespace bench
