#include "theme_language/logger.h"

#include <iostream>

namespace Drelm {

namespace {
void (*log_function)(const std::string&) = nullptr;
}  // namespace

void set_log_function(void (*function)(const std::string&)) { log_function = function; }

void log(const std::string& message) {
  if (log_function != nullptr) {
    log_function(message);
    return;
  }
  std::cout << "drelm." << message << '\n' << std::flush;
}

}  // namespace Drelm
