// Arbitrary theme JSON added to an initialised model, activated and rendered.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app_model/app.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto app = fuzz::fixture_model();
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string id = app->add_theme_json(text);
  if (!id.empty()) {
    app->set_active_theme(id);
    (void)app->render_patches_json();
    (void)app->render_tree_json();
    if (app->themes.size() > 1) app->remove_theme(id);
    (void)app->render_patches();
  }
  return 0;
}
