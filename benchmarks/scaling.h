#pragma once

// How load time grows with the size of one kind of input: each case loads a
// generated input at two sizes, the second twice the first, and reports the
// ratio of the times. Linear growth gives about 2; quadratic about 4. Every
// construct of the language has a case; the inputs hold at least a megabyte,
// so that a cost growing faster than the size shows over the fixed costs.

#include <string>

namespace bench {

// "scaling [SAMPLES]": runs every case in a process of its own, so that one
//   that crashes or hangs loses only its own figures, and prints what each
//   prints, or "scaling_CASE_failed 1" with the reason on standard error.
// "scaling SAMPLES CASE [SMALL]": runs one case here, its small size SMALL
//   when given: loads both sizes in turns, keeping the fastest of SAMPLES
//   (default 7) samples each, and prints "scaling_CASE_small_ns",
//   "scaling_CASE_large_ns", "scaling_CASE_ratio", "scaling_CASE_small_bytes"
//   and "scaling_log_messages".
int run_scaling(int argc, char** argv);

// Runs each case of the binary `self` `rounds` times, a process each, prints
// the median ratio of each case with its goal, and returns the number of
// goals missed. A case that crashes or runs out of time misses its goal and
// is not run again.
int report_scaling(const std::string& self, int rounds);

}  // namespace bench
