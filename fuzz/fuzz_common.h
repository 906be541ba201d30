#pragma once

// Shared set-up of the fuzz targets.

#include <string>

namespace fuzz {

// Drops library messages: a fuzz run logs nothing but findings.
void silence_library();

// The fixture interface whose styles and themes the targets load.
std::string model_directory();

}  // namespace fuzz
