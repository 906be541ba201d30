#include "app_model/app.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/internal/app_internal.h"
#include "theme_language/attribute.h"
#include "theme_language/file_reader.h"
#include "theme_language/layer.h"

namespace Ombrix {

namespace {

namespace fs = std::filesystem;

// A theme file that cannot be read, or is larger than a file may be, reads
// as empty, which parses as no theme. Only a regular file is read: a pipe or
// device named like a theme would block start-up or never end.
std::string read_whole_file(const fs::path& path) {
  try {
    Drelm::DFileText read = Drelm::read_file_text(path.native());
    return read.refusal.empty() ? std::move(read.text) : std::string();
  } catch (const std::bad_alloc&) {
    return {};
  }
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

// Whether the "Theme" layer shows theme: each key holds, unlinked, what
// apply_theme_to_proxy would write, so that writing it would call nothing.
// Reads only, so it runs no callback.
bool shows_theme(OApp& app, const OTheme& theme) {
  Drelm::DLayer* proxy = app.theme_engine.find_layer("Theme");
  if (proxy == nullptr) return true;
  for (const auto& [key, fallback] : OTheme::canonical_defaults()) {
    const Drelm::DAttribute* attribute = proxy->find_attribute(std::string_view(key));
    if (attribute == nullptr) continue;
    const Drelm::DValue* stored = theme.value(key);
    if (attribute->link() != nullptr ||
        attribute->value() != (stored != nullptr ? *stored : fallback)) {
      return false;
    }
  }
  return true;
}

// Every theme operation that writes ends here, whatever it returns: a
// callback of its writes may have run any theme operation, so the layer may
// show another theme, or a mix. The theme that active_theme names is written
// until the layer shows it. Its callbacks may switch again; a round that
// finds the layer in step ends it, and callbacks that keep switching are cut
// off after a few rounds rather than hang the call.
void show_active_theme(OApp& app) {
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    const auto active = app.themes.find(app.active_theme);
    if (active == app.themes.end() || shows_theme(app, active->second)) return;
    app.apply_theme_to_proxy(active->second);
  }
}

// The standard string hash has a fixed seed and steps that can be undone: a
// theme's author could choose keys that all share a hash. Keys are hashed
// with a key drawn once per process instead, whose mixing of each word
// depends on it, so that which keys share a slot cannot be foreseen.
class KeyedHash {
 public:
  std::size_t operator()(const std::string& text) const {
    std::uint64_t v0 = k0 ^ 0x736f6d6570736575ULL;
    std::uint64_t v1 = k1 ^ 0x646f72616e646f6dULL;
    std::uint64_t v2 = k0 ^ 0x6c7967656e657261ULL;
    std::uint64_t v3 = k1 ^ 0x7465646279746573ULL;
    const auto round = [&] {
      v0 += v1;
      v1 = rotate(v1, 13) ^ v0;
      v0 = rotate(v0, 32);
      v2 += v3;
      v3 = rotate(v3, 16) ^ v2;
      v0 += v3;
      v3 = rotate(v3, 21) ^ v0;
      v2 += v1;
      v1 = rotate(v1, 17) ^ v2;
      v2 = rotate(v2, 32);
    };
    const auto absorb = [&](std::uint64_t word) {
      v3 ^= word;
      round();
      v0 ^= word;
    };
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      absorb(word);
    }
    std::uint64_t last = std::uint64_t(text.size()) << 56;
    for (std::size_t i = 0; i < n; ++i) {
      last |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    absorb(last);
    v2 ^= 0xff;
    round();
    round();
    round();
    return static_cast<std::size_t>(v0 ^ v1 ^ v2 ^ v3);
  }

  // The key of this process.
  static const KeyedHash& drawn() {
    static const KeyedHash hash = draw();
    return hash;
  }

 private:
  static std::uint64_t rotate(std::uint64_t v, int bits) {
    return (v << bits) | (v >> (64 - bits));
  }

  static KeyedHash draw() {
    KeyedHash hash;
    try {
      std::random_device device;
      for (std::uint64_t* half : {&hash.k0, &hash.k1}) {
        *half = (std::uint64_t(device()) << 32) ^ device();
      }
    } catch (...) {
      // Without a random device, what differs between runs: the clock and
      // where the program was placed.
      hash.k0 = std::uint64_t(std::time(nullptr)) * 0x9E3779B97F4A7C15ULL;
      hash.k1 = reinterpret_cast<std::uintptr_t>(&hash) ^ (std::uint64_t(::getpid()) << 32);
    }
    return hash;
  }

  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// Builds the same document as ordered_json::parse, where a repeated key keeps
// the place of its first occurrence and takes the value of its last, without
// that parse's linear search of an object's members for every key: objects
// with many members look their keys up in an index instead. Reports a syntax
// error by its result, not by an exception.
class OrderedBuilder {
 public:
  using Json = nlohmann::ordered_json;
  using Members = Json::object_t::Container;

  explicit OrderedBuilder(Json& root) : root(root) {}

  bool null() { return value(nullptr); }
  bool boolean(bool v) { return value(v); }
  bool number_integer(Json::number_integer_t v) { return value(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return value(v); }
  bool number_float(Json::number_float_t v, const std::string&) { return value(v); }
  bool string(std::string& v) { return value(std::move(v)); }
  bool binary(Json::binary_t& v) { return value(std::move(v)); }
  bool start_object(std::size_t) { return open(Json::value_t::object); }
  bool start_array(std::size_t) { return open(Json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(std::string& name) {
    Open& object = open_values.back();
    Members& members = *object.json->get_ptr<Json::object_t*>();
    const std::size_t hash = KeyedHash::drawn()(name);
    std::size_t at = find(object, members, name, hash);
    if (at == members.size()) {
      members.emplace_back(std::move(name), nullptr);
      if (!object.slots.empty()) add_slot(object.slots, Slot{hash, at + 1});
    }
    element = &members[at].second;
    return true;
  }
  template <typename Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    return false;
  }

 private:
  // Up to this many members an object is searched as ordered_json does; the
  // index pays off only beyond.
  static constexpr std::size_t kScanned = 16;

  // An open-addressed index of an object's members: `at` is the member's
  // place plus one, 0 for a free slot. Flat, as a large theme's keys would
  // otherwise each cost a cache miss on a node of their own.
  struct Slot {
    std::size_t hash;
    std::size_t at;
  };
  struct Open {
    Json* json;
    std::vector<Slot> slots;
  };

  static void add_slot(std::vector<Slot>& slots, const Slot& slot) {
    const std::size_t mask = slots.size() - 1;
    std::size_t i = slot.hash & mask;
    while (slots[i].at != 0) i = (i + 1) & mask;
    slots[i] = slot;
  }

  // Builds the index when the object outgrows a scan, and doubles it while
  // it is more than half full.
  static void index(Open& object, const Members& members) {
    if (members.size() <= kScanned || members.size() * 2 < object.slots.size()) return;
    std::vector<Slot> slots(std::max<std::size_t>(64, object.slots.size() * 2));
    if (object.slots.empty()) {
      for (std::size_t i = 0; i < members.size(); ++i) {
        add_slot(slots, Slot{KeyedHash::drawn()(members[i].first), i + 1});
      }
    } else {
      for (const Slot& slot : object.slots) {
        if (slot.at != 0) add_slot(slots, slot);
      }
    }
    object.slots = std::move(slots);
  }

  static std::size_t find(Open& object, const Members& members, const std::string& name,
                          std::size_t hash) {
    index(object, members);
    if (!object.slots.empty()) {
      const std::size_t mask = object.slots.size() - 1;
      for (std::size_t i = hash & mask; object.slots[i].at != 0; i = (i + 1) & mask) {
        const Slot& slot = object.slots[i];
        if (slot.hash == hash && members[slot.at - 1].first == name) return slot.at - 1;
      }
      return members.size();
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (members[i].first == name) return i;
    }
    return members.size();
  }

  // Where a value goes: the root, the end of the open array, or the member
  // that the last key named. Open containers stay put: only the innermost
  // one grows.
  template <typename Value>
  Json* place(Value&& v) {
    if (open_values.empty()) {
      root = Json(std::forward<Value>(v));
      return &root;
    }
    Json& container = *open_values.back().json;
    if (container.is_array()) {
      container.get_ptr<Json::array_t*>()->emplace_back(std::forward<Value>(v));
      return &container.get_ptr<Json::array_t*>()->back();
    }
    *element = Json(std::forward<Value>(v));
    return element;
  }
  template <typename Value>
  bool value(Value&& v) {
    place(std::forward<Value>(v));
    return true;
  }
  bool open(Json::value_t kind) {
    open_values.push_back(Open{place(kind), {}});
    return true;
  }
  bool close() {
    open_values.pop_back();
    return true;
  }

  Json& root;
  std::vector<Open> open_values;
  Json* element = nullptr;
};

}  // namespace

bool parse_theme_json(const std::string& text, OTheme& out) {
  try {
    nlohmann::ordered_json root;
    OrderedBuilder builder(root);
    if (!nlohmann::ordered_json::sax_parse(text, &builder)) return false;
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
  const bool installed = themes.contains(key);
  if (installed) record_active_theme(key);
  show_active_theme(*this);
  return installed;
}

void OApp::record_active_theme(const std::string& id) {
  if (id == active_theme) return;
  active_theme = id;
  if (!on_theme_changed) return;
  // A copy: the callback may itself switch the theme. It runs from its place,
  // so that it may clear or replace itself, and is told of those switches too.
  const std::string changed = active_theme;
  run_in_place<true>(member(on_theme_changed), places_in(on_theme_changed), changed);
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
  bool removed = true;
  if (const auto entry = themes.find(key); entry != themes.end()) {
    removed = key != active_theme && themes.size() >= 2;
    if (removed) themes.erase(entry);
  }
  if (applied) show_active_theme(*this);
  return removed;
}

std::string OApp::add_theme_json(const std::string& text) {
  OTheme theme;
  if (!parse_theme_json(text, theme)) return {};
  std::string id = theme.display_id();
  const bool was_active = id == active_theme;
  const auto it = themes.insert_or_assign(id, std::move(theme)).first;
  // Same id: the values changed, not the choice, so no on_theme_changed.
  if (was_active) {
    apply_theme_to_proxy(it->second);
    show_active_theme(*this);
  }
  return id;
}

}  // namespace Ombrix
