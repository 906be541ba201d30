#include "app_model/app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "app_model/internal/app_internal.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Ombrix {

namespace {

namespace fs = std::filesystem;

// Owns one open descriptor.
struct Descriptor {
  int fd;
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

// A file that cannot be read reads as empty, which parses as no theme. Only a
// regular file is read, judged by what was opened: a pipe or device named
// like a theme would block start-up or never end, and without O_NONBLOCK
// opening a FIFO waits for a writer, also one that replaced the file after
// the scan listed it.
std::string read_whole_file(const fs::path& path) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::string text;
  if (info.st_size > 0) text.reserve(static_cast<std::size_t>(info.st_size));
  char block[16384];
  while (true) {
    const ssize_t count = ::read(file.fd, block, sizeof block);
    if (count == 0) break;
    if (count > 0) {
      text.append(block, static_cast<std::size_t>(count));
    } else if (errno != EINTR) {
      return {};
    }
  }
  return text;
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
    OTheme theme;
    if (!parse_theme_json(read_whole_file(path), theme)) continue;
    std::string id = theme.display_id();
    themes.insert_or_assign(std::move(id), std::move(theme));
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
  // Loading logs and skips what it cannot read; it throws nothing.
  theme_engine.load_files(styles_dir + "/widgets", "Ombrix");
  theme_engine.load_files(styles_dir + "/mounts", "");
  for (const auto& directory : extra_style_dirs) theme_engine.load_files(directory, "");
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
  // ever names an installed one.
  if (!themes.contains(key)) return false;
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
  if (key == active_theme) {
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
  if (key == active_theme || themes.size() < 2) return false;
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
