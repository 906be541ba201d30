#pragma once

// A/B comparison against a baseline build of the same benchmark sources:
// generates the interfaces once, runs the measuring subcommands of both
// binaries in alternating order, and checks every goal on the medians.

namespace bench {

// "compare BASELINE_BINARY [ROUNDS]": prints the figures and the goals; the
// result is the number of goals missed (0 when all are met), capped at 100.
int run_compare(int argc, char** argv);

}  // namespace bench
