#include "fuzz/fuzz_common.h"

#include <cstdio>

#include "theme_language/logger.h"

namespace fuzz {

namespace {
void quiet(const std::string&) {}
}  // namespace

void silence_library() { Drelm::set_log_function(quiet); }

std::unique_ptr<Ombrix::OApp> fixture_model() {
  auto app = std::make_unique<Ombrix::OApp>();
  app->root_name = "App";
  const std::string dir = OMBRIX_FUZZ_MODEL_DIR;
  app->init(dir + "/themes", dir + "/styles", "", {});
  app->render_patches();
  return app;
}

}  // namespace fuzz
