// Plays a short session against the demo interface, the way a front end
// would: prints the first render tree, then sends one UI event per step and
// prints the patch list that the next render produces.
//
// Usage: ombrix_demo [THEMES_DIR STYLES_DIR]
// Without arguments the demo's own themes and styles are used.

#include <cstddef>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "wiring.h"

namespace {

using Json = nlohmann::ordered_json;
using Ombrix::OApp;
using ombrix_demo::kDialog;
using ombrix_demo::kFormat;
using ombrix_demo::kNote;
using ombrix_demo::kOpenDialog;
using ombrix_demo::kRoot;
using ombrix_demo::kTabs;
using ombrix_demo::kThemeList;

const std::string kStartTheme = "Midnight (Ombrix)";

std::string text_of(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::size_t count_nodes(const Json& node) {
  std::size_t count = 1;
  if (const auto it = node.find("children"); it != node.end() && it->is_array()) {
    for (const auto& child : *it) count += count_nodes(child);
  }
  return count;
}

// One line per node, indented by depth: kind, name and text.
void print_outline(const Json& node, int depth) {
  std::cout << std::string(static_cast<std::size_t>(2 + 2 * depth), ' ') << text_of(node, "type")
            << ' ' << text_of(node, "name");
  if (const std::string text = text_of(node, "text"); !text.empty()) {
    std::cout << "  \"" << text << '"';
  }
  std::cout << '\n';
  if (const auto it = node.find("children"); it != node.end() && it->is_array()) {
    for (const auto& child : *it) print_outline(child, depth + 1);
  }
}

void print_patch(const Json& patch) {
  const std::string op = text_of(patch, "op");
  std::cout << "   " << op;
  if (op == "insert") {
    const auto node = patch.find("node");
    std::cout << ' ' << (node != patch.end() ? text_of(*node, "path") : std::string())
              << "  (under " << text_of(patch, "parentPath") << " at " << patch.value("index", 0)
              << ", " << (node != patch.end() ? count_nodes(*node) : 0) << " nodes)";
  } else {
    std::cout << ' ' << text_of(patch, "path");
  }
  if (op == "editorvalue") std::cout << "  \"" << text_of(patch, "text") << '"';
  std::cout << '\n';
}

struct Step {
  std::string title;
  std::string path;
  std::string event;
};

// Sends one event, renders, and prints the patches; false when nothing changed,
// which would mean the interface did not react.
bool play(OApp& app, int number, const Step& step) {
  std::cout << "\n== " << number << ". " << step.title << "\n   dispatch(\"" << step.path
            << "\", \"" << step.event << "\")\n";
  app.dispatch(step.path, step.event);
  const std::string patches = app.render_patches_json();
  const Json list = Json::parse(patches, nullptr, false);
  if (list.is_discarded() || !list.is_array()) {
    std::cerr << "ombrix_demo: step " << number << ": the patch list is not a JSON array\n";
    return false;
  }
  for (const auto& patch : list) print_patch(patch);
  std::cout << patches << '\n';
  if (list.empty()) {
    std::cerr << "ombrix_demo: step " << number << " (" << step.title << ") changed nothing\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 1 && argc != 3) {
    std::cerr << "usage: ombrix_demo [THEMES_DIR STYLES_DIR]\n";
    return 2;
  }
  const std::string themes_dir = argc == 3 ? argv[1] : OMBRIX_DEMO_DIR "/themes";
  const std::string styles_dir = argc == 3 ? argv[2] : OMBRIX_DEMO_DIR "/styles";

  ombrix_demo::Demo demo;
  demo.themes_dir = themes_dir;
  ombrix_demo::wire(demo);
  OApp& app = demo.app;
  app.on_theme_changed = [](const std::string& id) {
    std::cout << "   (active theme: " << id << ")\n";
  };

  // Library diagnostics, if any, are printed by the library under this heading.
  std::cout << "== init(\"" << themes_dir << "\", \"" << styles_dir << "\", \"" << kStartTheme
            << "\")\n";
  if (!app.init(themes_dir, styles_dir, kStartTheme, {})) {
    std::cerr << "Ombrix: failed to initialize (themes/styles/theme).\n";
    return 1;
  }
  if (!app.engine().find_layer(kRoot)) {
    std::cerr << "ombrix_demo: " << styles_dir << "/mounts declares no layer \"" << kRoot << "\"\n";
    return 1;
  }

  std::cout << "\n== Render tree of \"" << kRoot << "\" with the theme \"" << app.active_theme
            << "\"\n";
  const std::string tree = app.render_tree_json();
  const Json root = Json::parse(tree, nullptr, false);
  if (!root.is_discarded()) print_outline(root, 0);
  std::cout << tree << '\n';

  // The front end's first render: one insert of the whole tree.
  const std::vector<Ombrix::Patch> first = app.render_patches();
  std::cout << "\n== First render: " << first.size() << " patch, "
            << (first.empty() ? "nothing" : Ombrix::to_string(first.front().kind)) << ' '
            << (first.empty() ? std::string() : first.front().node.path) << '\n';

  const std::vector<Step> session = {
      {"Type a note into the editor", kNote, "input:Meet at noon by the fountain"},
      {"Send it as an e-mail draft", kFormat, "select:mail"},
      {"Open the Settings tab", kTabs + "Settings", "click"},
      {"Switch to the Daylight theme", kThemeList + "/Daylight (Ombrix)", "click"},
      {"Open the theme-directories dialog", kOpenDialog, "click"},
      {"Add a theme directory", kDialog + "/Actions/Add", "click"},
      {"Remove it again", kDialog + "/Sources/user-1/Remove", "click"},
      {"Close the dialog", kDialog + "/Actions/Close", "click"},
  };
  int number = 0;
  for (const Step& step : session) {
    if (!play(app, ++number, step)) return 1;
  }
  std::cout << "\n== Session done: " << session.size() << " steps, each changed the interface.\n";
  return 0;
}
