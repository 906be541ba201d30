#include "app_model/app.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "app_model/internal/app_internal.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Ombrix {

namespace {

namespace fs = std::filesystem;

// A file that cannot be opened reads as empty, which parses as no theme.
std::string read_whole_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  return std::move(text).str();
}

// Installs every "*.json" theme of one directory level; a later file with
// the same display id replaces the earlier one.
void scan_themes(const std::string& themes_dir, ThemeMap& themes) {
  std::error_code ec;
  if (!fs::exists(themes_dir, ec)) return;
  // A directory that cannot be listed counts as holding no themes; start-up
  // then fails through the empty theme map rather than an exception.
  fs::directory_iterator it(themes_dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (path.extension().native() != ".json") continue;
    // Only regular files are read: a pipe or device named like a theme would
    // block start-up or never end. Anything else reads as empty anyway.
    std::error_code status_error;
    if (!fs::is_regular_file(path, status_error)) continue;
    OTheme theme;
    if (!parse_theme_json(read_whole_file(path), theme)) continue;
    std::string id = theme.display_id();
    themes.insert_or_assign(std::move(id), std::move(theme));
  }
}

// Style directories are optional: one that cannot be listed loads nothing,
// just like a missing one.
void load_style_dir(Drelm::DEngine& engine, const std::string& directory,
                    const std::string& namespace_name) {
  try {
    engine.load_files(directory, namespace_name);
  } catch (const fs::filesystem_error&) {
  }
}

// After a theme operation that callbacks defeated, the layer tree may show the
// other theme, or a mix of both: the theme that active_theme names is written
// again. Its callbacks may change the choice or the theme once more, so it is
// written until a round ends with the theme it wrote still the active one.
// Rewriting values already shown calls nothing, so rounds settle unless
// callbacks keep switching; those are cut off after a few rounds.
void show_active_theme(OApp& app) {
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    const auto active = app.themes.find(app.active_theme);
    if (active == app.themes.end()) return;
    const std::string shown = active->first;
    const OTheme theme = active->second;
    app.apply_theme_to_proxy(theme);
    const auto now = app.themes.find(shown);
    if (app.active_theme == shown && now != app.themes.end() &&
        now->second.values == theme.values) {
      return;
    }
  }
}

}  // namespace

bool parse_theme_json(const std::string& text, OTheme& out) {
  try {
    const auto root = nlohmann::ordered_json::parse(text);
    std::string name;
    const nlohmann::ordered_json* body = &root;
    if (root.is_object()) {
      if (root.empty()) return false;
      const auto first = root.begin();
      name = first.key();
      body = &first.value();
    } else if (root.is_array()) {
      if (root.empty()) return false;
      name = "0";
      body = &root.front();
    } else if (root.is_null()) {
      return false;
    }
    OTheme theme(name, *body);
    out = std::move(theme);
    return true;
  } catch (...) {
    // Whatever fails while reading or building, the text holds no theme.
    return false;
  }
}

bool OApp::init(const std::string& themes_dir, const std::string& styles_dir,
                const std::string& theme_id, const std::vector<std::string>& extra_style_dirs) {
  load_style_dir(theme_engine, styles_dir + "/widgets", "Ombrix");
  load_style_dir(theme_engine, styles_dir + "/mounts", "");
  for (const auto& directory : extra_style_dirs) load_style_dir(theme_engine, directory, "");
  theme_engine.root()->resolve_links();

  scan_themes(themes_dir, themes);
  if (themes.empty()) return false;
  auto chosen = themes.find(theme_id);
  if (chosen == themes.end()) chosen = themes.begin();
  set_active_theme(chosen->first);
  return true;
}

void OApp::apply_theme_to_proxy(const OTheme& theme) {
  // Each write runs the change callbacks, which may remove or replace the
  // theme passed in (it may be an entry of themes) or change the layer tree:
  // write from a copy, and find the layer again for every key.
  const OTheme applied = theme;
  for (const auto& [key, fallback] : OTheme::canonical_defaults()) {
    Drelm::DLayer* proxy = theme_engine.find_layer("Theme");
    if (proxy == nullptr) return;
    Drelm::DAttribute* attribute = proxy->find_attribute(std::string_view(key));
    if (attribute == nullptr) continue;
    const Drelm::DValue* stored = applied.value(key);
    attribute->set_value(stored != nullptr ? *stored : fallback);
  }
}

bool OApp::set_active_theme(const std::string& id) {
  // A copy: id may be a key of themes that a callback erases.
  const std::string key = id;
  const auto it = themes.find(key);
  if (it == themes.end()) return false;
  apply_theme_to_proxy(it->second);
  // A callback of the apply may have removed the theme; the active id only
  // ever names an installed one, and the layers show that one.
  if (!themes.contains(key)) {
    show_active_theme(*this);
    return false;
  }
  record_active_theme(key);
  return true;
}

void OApp::record_active_theme(const std::string& id) {
  if (id == active_theme) return;
  active_theme = id;
  if (on_theme_changed) {
    // A copy: the callback may itself switch the theme.
    const std::string changed = active_theme;
    on_theme_changed(changed);
  }
}

bool OApp::remove_theme(const std::string& id) {
  // A copy: id may be the key of the entry erased below.
  const std::string key = id;
  if (!themes.contains(key) || themes.size() < 2) return false;
  bool applied = false;
  if (key == active_theme) {
    applied = true;
    auto next = themes.begin();
    if (next->first == key) ++next;
    const std::string next_id = next->first;
    apply_theme_to_proxy(next->second);
    // Callbacks of the apply may have removed the theme taking over.
    if (themes.contains(next_id)) record_active_theme(next_id);
  }
  // Callbacks may have removed the theme already, made it active again or
  // left it the last one; an active or last theme stays.
  const auto entry = themes.find(key);
  if (entry == themes.end()) return true;
  if (key == active_theme || themes.size() < 2) {
    if (applied) show_active_theme(*this);
    return false;
  }
  themes.erase(entry);
  return true;
}

std::string OApp::add_theme_json(const std::string& text) {
  OTheme theme;
  if (!parse_theme_json(text, theme)) return {};
  std::string id = theme.display_id();
  const bool was_active = id == active_theme;
  const auto it = themes.insert_or_assign(id, std::move(theme)).first;
  // Same id: the values changed, not the choice, so no on_theme_changed.
  if (was_active) apply_theme_to_proxy(it->second);
  return id;
}

}  // namespace Ombrix
