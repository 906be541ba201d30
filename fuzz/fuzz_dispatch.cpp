// Arbitrary event paths and texts dispatched to an initialised model, each
// followed by a render. Input: lines of "path\tevent".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app_model/app.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto app = fuzz::fixture_model();
  app->combo_options["App/Combo"] = {{"a", "A"}, {"b", "B"}};
  app->lists["themeSources"] = {{"one", {{"title", "One"}}}};
  app->default_action_handler = [&](const std::string&, const std::string& arg,
                                    const std::string& data_text) {
    if (data_text == "add") app->lists["themeSources"].push_back({"new" + arg, {}});
  };
  std::string_view input(reinterpret_cast<const char*>(data), size);
  int events = 0;
  while (!input.empty() && events++ < 64) {
    const std::size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    const std::size_t tab = line.find('\t');
    const std::string path(line.substr(0, tab));
    const std::string event(tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1));
    app->dispatch(path, event);
    (void)app->render_patches();
  }
  (void)app->render_patches_json();
  return 0;
}
