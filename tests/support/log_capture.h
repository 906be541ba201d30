#pragma once

// Keeps the library's messages for a test to compare instead of printing them.

#include <string>
#include <vector>

#include "theme_language/logger.h"

namespace support {

// Installs a sink that collects every message from construction until
// destruction, then restores the default sink. The sink is a plain function,
// so the lines live in one static list; one capture at a time.
class LogCapture {
 public:
  LogCapture() {
    lines().clear();
    Drelm::set_log_function(&record);
  }
  ~LogCapture() { Drelm::set_log_function(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The messages so far, oldest first; a test may clear them between steps.
  static std::vector<std::string>& lines() {
    static std::vector<std::string> captured;
    return captured;
  }

 private:
  static void record(const std::string& message) { lines().push_back(message); }
};

}  // namespace support
