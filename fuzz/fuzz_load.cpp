// One arbitrary ".drl" file loaded as a user's styles, rendered and written as JSON.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "app_model/app.h"
#include "fuzz/fuzz_common.h"

namespace {

namespace fs = std::filesystem;

// styles/widgets holds the fixture widgets; styles/mounts the input file.
const fs::path& work_directory() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("ombrix-fuzz-load-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d / "styles/mounts");
    fs::create_directory_symlink(fs::path(OMBRIX_FUZZ_MODEL_DIR) / "styles/widgets",
                                 d / "styles/widgets");
    fs::create_directory_symlink(fs::path(OMBRIX_FUZZ_MODEL_DIR) / "themes", d / "themes");
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
  const fs::path& dir = work_directory();
  {
    std::ofstream out(dir / "styles/mounts/input.drl", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  Ombrix::OApp app;
  app.root_name = "App";
  app.init((dir / "themes").string(), (dir / "styles").string(), "", {});
  (void)app.engine().unresolved_links();
  (void)app.render_tree_json();
  (void)app.render_patches_json();
  app.set_viewport_width(500);
  (void)app.render_patches_json();
  return 0;
}
