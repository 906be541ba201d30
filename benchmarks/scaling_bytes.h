#pragma once

// Scaling of what loading copies and parses by the byte: a theme of many
// members, whose reading must grow linearly, and one long text expanded to
// thousands of attributes, whose peak memory must stay near one copy.

#include <cstddef>
#include <string>

namespace bench {

// A theme file whose body has `members` colour members.
std::string theme_with_members(std::size_t members);
// A ".drl" file giving `text_bytes` of text to the 64 x 64 attributes of
// one declaration "(a0, ..., a63) (b0, ..., b63)".
std::string expanded_text_source(std::size_t text_bytes);

// "scaling-bytes theme": the fastest reading of a theme of 40,000 and of
//   80,000 members through add_theme_json, in nanoseconds.
// "scaling-bytes expand DIR": loads the 64 x 64 expansion of a 1 MB text
//   written to DIR and prints the process's peak resident bytes; run it in a
//   process of its own.
int run_scaling_bytes(int argc, char** argv);

}  // namespace bench
