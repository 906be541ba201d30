#pragma once

// The input of the fifth fuzz target: a byte program of public calls on the
// layer tree and on the application model. Change and destroy callbacks and
// handlers run programs of their own, so they call back into the tree and the
// model while the library is inside a call; handlers also keep copies of
// themselves in callbacks posted to the host's loop. Every call stays within
// what the caller is allowed to do, so any sanitizer report is a fault of the
// library, as is a theme call that returns with the "Theme" layer out of step
// with the active theme. The regression test replays saved programs through
// the same interpreter.

#include <ostream>
#include <string>
#include <string_view>

namespace fuzz {

// Runs one program; trace, when given, receives each call as it is made.
void run_calls(std::string_view input, const std::string& model_dir, std::ostream* trace = nullptr);

}  // namespace fuzz
