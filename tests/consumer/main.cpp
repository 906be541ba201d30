// Writes a tiny interface and one theme to a fresh directory, loads them,
// renders, and prints the text node with its colour. Fails when the text the
// interface declares or the theme's colour does not reach the tree.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <system_error>

#include "app_model/app.h"

namespace {

namespace fs = std::filesystem;

const char* const kWidgets = R"(Box:
    Layout.Direction: "column"
Text << Box:
    Text Color: Theme/Foreground
)";

const char* const kMounts = R"(Theme:
    Foreground: #e3e3e3
App << Ombrix/Box:
    Greeting << Ombrix/Text:
        Text: "Hello from a consumer"
)";

const char* const kTheme = R"({"Plain": {"Foreground": "#101010"}})";

bool write(const fs::path& file, const char* text) {
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  std::ofstream out(file, std::ios::binary);
  out << text;
  return !error && static_cast<bool>(out);
}

}  // namespace

int main() {
  const fs::path dir =
      fs::temp_directory_path() / ("ombrix_consumer_" + std::to_string(std::random_device{}()));
  const bool written = write(dir / "styles/widgets/box.drl", kWidgets) &&
                       write(dir / "styles/mounts/app.drl", kMounts) &&
                       write(dir / "themes/plain.json", kTheme);

  Ombrix::OApp app;
  app.root_name = "App";
  const bool loaded =
      written && app.init((dir / "themes").string(), (dir / "styles").string(), "Plain", {});
  const Ombrix::RenderNode tree = loaded ? app.build_render_tree() : Ombrix::RenderNode();
  std::error_code ignored;
  fs::remove_all(dir, ignored);

  for (const Ombrix::RenderNode& node : tree.children) {
    std::cout << node.path << ": " << node.text << " (" << node.style.textColor << ")\n";
    if (node.text == "Hello from a consumer" && node.style.textColor == "#101010") return 0;
  }
  std::cerr << "ombrix_consumer: the interface did not render\n";
  return 1;
}
