#include "wiring.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace ombrix_demo {
namespace {

using Ombrix::OApp;

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

}  // namespace

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
}

}  // namespace ombrix_demo
