// One arbitrary ".drl" file loaded as a user's styles over the fixture
// interface, rendered from the screen "App" and written as JSON.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_common.h"
#include "fuzz/harness.h"

namespace {

namespace fs = std::filesystem;

// One directory per process, so that parallel jobs do not share the input file.
const fs::path& work_directory() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("ombrix-fuzz-load-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::run_load(std::string_view(reinterpret_cast<const char*>(data), size),
                 fuzz::model_directory(), work_directory());
  return 0;
}
