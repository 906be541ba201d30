// Arbitrary theme JSON added to an initialised model, activated and rendered.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_common.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::run_theme(std::string_view(reinterpret_cast<const char*>(data), size),
                  fuzz::model_directory());
  return 0;
}
