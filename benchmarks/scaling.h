#pragma once

// How load time grows with the size of one kind of input: each case loads a
// generated source at two sizes, the second twice the first, and reports the
// ratio of the times. Linear growth gives about 2; quadratic about 4.

#include <string>

namespace bench {

// "scaling [SAMPLES]": loads every case at both sizes, in turns, keeping the
// fastest of SAMPLES (default 7) loads each, and prints
// "scaling_CASE_small_ns", "scaling_CASE_large_ns" and "scaling_CASE_ratio".
int run_scaling(int argc, char** argv);

// Runs "scaling" of the binary `self` `rounds` times, prints the median ratio
// of each case with its goal, and returns the number of goals missed.
int report_scaling(const std::string& self, int rounds);

}  // namespace bench
