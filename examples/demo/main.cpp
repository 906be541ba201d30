// Plays a short session against the demo interface, the way a front end
// would: prints the first render tree, then sends one UI event per step and
// prints the patch list that the next render produces.
//
// Usage: ombrix_demo [THEMES_DIR STYLES_DIR]
// Without arguments the demo's own themes and styles are used.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"

namespace {

using Json = nlohmann::ordered_json;
using Ombrix::OApp;

const std::string kRoot = "App";
const std::string kStartTheme = "Midnight (Ombrix)";

// Node paths that the program fills stores for and wires handlers to.
const std::string kTabs = "App/Title Bar/Tabs/";
const std::string kViews = "App/Content/";
const std::string kNote = "App/Content/Share/Note";
const std::string kFormat = "App/Content/Share/Format";
const std::string kPreview = "App/Content/Share/Preview";
const std::string kCode = "App/Content/Share/Code";
const std::string kThemeList = "App/Content/Settings/Themes";
const std::string kOpenDialog = "App/Content/Settings/Directories";
const std::string kDialog = "App/Theme Directories";
const std::string kSources = "themeSources";
const char* const kTabNames[] = {"Share", "Settings"};

// What the application keeps beside the model: the note being shared, and the
// themes each added directory brought, so that removing it takes them out again.
struct Demo {
  OApp app;
  std::string themes_dir;
  std::string note;
  std::string format = "text";
  std::map<std::string, std::vector<std::string>> source_themes;  // row id -> theme ids
  int next_source = 1;
};

std::string read_text(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Installs the theme files of a directory, in name order; returns the ids that
// were not installed before, the ones this directory is answerable for.
std::vector<std::string> install_themes(OApp& app, const std::string& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() == ".json") files.push_back(it->path());
  }
  if (error) std::cerr << "ombrix_demo: " << directory << ": " << error.message() << '\n';
  std::sort(files.begin(), files.end());
  std::set<std::string> known;
  for (const auto& [id, theme] : app.themes) known.insert(id);
  std::vector<std::string> added;
  for (const auto& file : files) {
    std::string id = app.add_theme_json(read_text(file));
    if (id.empty()) {
      std::cerr << "ombrix_demo: " << file.string() << ": not a theme\n";
    } else if (known.insert(id).second) {
      added.push_back(std::move(id));
    }
  }
  return added;
}

std::string percent_encoded(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// What the QR code carries for the note in the chosen format.
std::string payload(const Demo& demo) {
  if (demo.format == "mail") return "mailto:?subject=Note&body=" + percent_encoded(demo.note);
  if (demo.format == "sms") return "sms:?body=" + percent_encoded(demo.note);
  return demo.note;
}

// Without a note the layer's own preview text and an empty code stand.
void update_share(Demo& demo) {
  OApp& app = demo.app;
  if (demo.note.empty()) {
    app.texts.erase(kPreview);
    app.qr_data.erase(kCode);
    return;
  }
  const std::string data = payload(demo);
  app.texts[kPreview] = "Encoded: " + data;
  app.qr_data[kCode] = data;
}

// Marks one tab "Selected" and shows its view; the other views are left out
// of the render tree.
void show_tab(OApp& app, const std::string& name) {
  for (const char* tab : kTabNames) {
    auto& tab_states = app.node_states[kTabs + tab];
    if (name == tab) {
      tab_states.insert("Selected");
      app.hidden_paths.erase(kViews + tab);
    } else {
      tab_states.erase("Selected");
      app.hidden_paths.insert(kViews + tab);
    }
  }
}

void add_source(Demo& demo, const std::string& directory) {
  auto& rows = demo.app.lists[kSources];
  const bool listed = std::any_of(rows.begin(), rows.end(), [&](const Ombrix::ListEntry& row) {
    const auto it = row.fields.find("path");
    return it != row.fields.end() && it->second == directory;
  });
  if (directory.empty() || listed) return;
  Ombrix::ListEntry row;
  row.id = "user-" + std::to_string(demo.next_source++);
  row.fields["path"] = directory;
  demo.source_themes[row.id] = install_themes(demo.app, directory);
  rows.push_back(std::move(row));
}

void remove_source(Demo& demo, const std::string& id) {
  auto& rows = demo.app.lists[kSources];
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const Ombrix::ListEntry& entry) { return entry.id == id; });
  if (row == rows.end() || row->fields.count("builtin")) return;
  for (const auto& theme : demo.source_themes[id]) demo.app.remove_theme(theme);
  demo.source_themes.erase(id);
  rows.erase(row);
}

// Fills the stores and handlers the way the application does before its first render.
void wire(Demo& demo) {
  OApp& app = demo.app;
  app.root_name = kRoot;
  app.states.insert("Desktop");

  show_tab(app, "Share");
  for (const char* tab : kTabNames) {
    app.click_handlers[kTabs + tab] = [&app, name = std::string(tab)] { show_tab(app, name); };
  }

  app.input_handlers[kNote] = [&demo](const std::string& text) {
    demo.note = text;
    update_share(demo);
  };
  app.combo_options[kFormat] = {
      {"text", "Plain text"}, {"mail", "E-mail draft"}, {"sms", "Text message"}};
  app.combo_selected[kFormat] = demo.format;
  app.select_handlers[kFormat] = [&demo](const std::string& id) {
    demo.format = id;
    update_share(demo);
  };

  app.hidden_paths.insert(kDialog);
  app.click_handlers[kOpenDialog] = [&app] { app.hidden_paths.erase(kDialog); };
  app.click_handlers[kDialog + "/Actions/Close"] = [&app] { app.hidden_paths.insert(kDialog); };

  Ombrix::ListEntry builtin;
  builtin.id = "builtin";
  builtin.fields["path"] = demo.themes_dir;
  builtin.fields["builtin"] = "1";
  app.lists[kSources] = {builtin};
  app.action_handlers[kSources] = [&demo](const std::string&, const std::string& row,
                                          const std::string& what) {
    if (what == "remove") {
      remove_source(demo, row);
    } else if (what == "add" && demo.app.file_pick_handler) {
      Ombrix::PickRequest request;
      request.directory = true;
      request.title = "Choose a theme directory";
      demo.app.file_pick_handler(request,
                                 [&demo](const std::string& picked) { add_source(demo, picked); });
    }
  };
  // There is no desktop here to ask: the demo always picks its second theme directory.
  app.file_pick_handler = [&demo](const Ombrix::PickRequest& request,
                                  std::function<void(const std::string&)> done) {
    done(request.directory ? demo.themes_dir + "/extra" : std::string());
  };

  app.on_theme_changed = [](const std::string& id) {
    std::cout << "   (active theme: " << id << ")\n";
  };
}

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

  Demo demo;
  demo.themes_dir = themes_dir;
  wire(demo);
  OApp& app = demo.app;

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
