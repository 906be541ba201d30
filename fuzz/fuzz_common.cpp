#include "fuzz/fuzz_common.h"

#include "theme_language/logger.h"

namespace fuzz {

namespace {
void quiet(const std::string&) {}
}  // namespace

void silence_library() { Drelm::set_log_function(quiet); }

std::string model_directory() { return OMBRIX_FUZZ_MODEL_DIR; }

}  // namespace fuzz
