// Programs of public calls on the layer tree and the application model, with
// callbacks and handlers that call back into both. Set OMBRIX_FUZZ_TRACE to
// see the calls of an input as they are made.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "fuzz/calls.h"
#include "fuzz/fuzz_common.h"

namespace {
bool tracing = false;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_library();
  tracing = std::getenv("OMBRIX_FUZZ_TRACE") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::run_calls(std::string_view(reinterpret_cast<const char*>(data), size),
                  fuzz::model_directory(), tracing ? &std::cerr : nullptr);
  return 0;
}
