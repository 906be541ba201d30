// Arbitrary event paths and texts dispatched to an initialised model, each
// followed by a render. Input: lines of "path\tevent".

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
  (void)fuzz::run_dispatch(std::string_view(reinterpret_cast<const char*>(data), size),
                           fuzz::model_directory());
  return 0;
}
