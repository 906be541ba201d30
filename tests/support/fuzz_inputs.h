#pragma once

// The saved inputs of the fuzz targets, replayed by the regression tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace support {

inline const std::filesystem::path kFuzzRegressions =
    std::filesystem::path(OMBRIX_FIXTURES_DIR) / "fuzz_regressions";

// Calls `run` with each saved input of a target, the file named in the trace
// of any failure; a target without a folder has none.
inline void for_each_fuzz_input(const std::string& target,
                                const std::function<void(const std::filesystem::path&)>& run) {
  const std::filesystem::path folder = kFuzzRegressions / target;
  if (!std::filesystem::is_directory(folder)) return;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().string());
    run(entry.path());
  }
}

}  // namespace support
