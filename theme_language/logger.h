#pragma once

#include <string>

namespace Drelm {

// Installs the sink for library messages; null restores the default, which
// writes "drelm." and the message as one line to standard output.
void set_log_function(void (*function)(const std::string&));

// Hands one complete message to the sink.
void log(const std::string& message);

}  // namespace Drelm
