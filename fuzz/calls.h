#pragma once

// The input of the fifth fuzz target: a byte program of public calls on the
// layer tree and on the application model. Change callbacks and handlers run
// programs of their own, so they call back into the tree and the model while
// the library is inside a call. Every call stays within what the caller is
// allowed to do, so any sanitizer report is a fault of the library.
// Header-only so that the regression test replays saved programs unchanged.
//
// Byte 0 chooses the start (initialised model or empty one, first screen);
// then each operation is one byte (modulo the number of operations) followed
// by its operands; missing bytes read as 0. Objects are addressed through
// eight registers, each checked to be alive before use.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "app_model/app.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

// Developers may define this while a known fault is open, to look past it.
// Never define it for the committed target: it must exercise those sequences.
#ifndef OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS
#define OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS 0
#endif

namespace fuzz {
namespace calls {

using DObject = Drelm::DObject;
using DLayer = Drelm::DLayer;
using DAttribute = Drelm::DAttribute;
using DValue = Drelm::DValue;

// Bounds that keep every input well under a second.
constexpr int kTopLevelOps = 200;
constexpr int kAllOps = 1200;
constexpr int kBodyRuns = 300;
constexpr int kBodyDepth = 4;
constexpr int kRenders = 12;
constexpr int kLoads = 3;
constexpr std::size_t kObjects = 1500;
constexpr std::size_t kDepth = 48;
constexpr std::size_t kLoadObjects = 12000;
constexpr std::size_t kRegisters = 8;

// Long names on purpose: a rename then reallocates the name instead of
// writing into the string's inline buffer.
inline constexpr std::array<const char*, 40> kNames = {
    "",
    "A",
    "B",
    "C",
    "D",
    "X",
    "Theme",
    "Primary",
    "Foreground",
    "Secondary",
    "Tertiary",
    "Gradient.Start Color",
    "Fill",
    "Hover",
    "Pressed",
    "Hover:Pressed",
    "Selected",
    "Checked",
    "Text",
    "Bind",
    "Intent",
    "Visible",
    "Ombrix",
    "Button",
    "Box",
    "Page",
    "Render",
    "Binds",
    "Row",
    "Swap",
    "Note",
    "Header",
    "Border",
    "Detail",
    "Size.Height Viewport",
    "A/B",
    "Hover:",
    "Items",
    "a name long enough to live outside the inline buffer of a string, renamed",
    "another name long enough to live outside the inline buffer, renamed too",
};

inline constexpr std::array<const char*, 20> kPaths = {
    "A",
    "B",
    "A/B",
    "Ombrix/Button",
    "Ombrix/Text",
    "Box",
    "Theme/Primary",
    "Primary",
    "Fill",
    "Page/Header",
    "X/A",
    "",
    "/A",
    "A//B",
    "A/",
    "Theme",
    "Page",
    "Render/Title",
    "Binds/Items/Row",
    "Heading",
};

// Node paths as the render tree names them, for events, stores and handlers.
inline constexpr std::array<const char*, 16> kNodePaths = {
    "Page/Swap",
    "Page/Note",
    "Page/Agree",
    "Render/Text",
    "Render/Choice",
    "Render/Code",
    "Binds/Add",
    "Binds/Move",
    "Binds/Items/a/Remove",
    "Page",
    "Render/Panel/Agree",
    "Binds/Themes/Noon",
    "Other Page/Swap",
    "A",
    "A/B",
    "",
};

inline constexpr std::array<const char*, 12> kEvents = {
    "click",     "input:",  "input:text", "select:a",        "select:b", "select:aa",
    "scan:code", "select:", "Click",      "scanstatus:busy", "click ",   "",
};

inline constexpr std::array<const char*, 6> kThemeNames = {"Dawn",  "Dusk", "Noon",
                                                           "Extra", "Zed",  "0"};
inline constexpr std::array<const char*, 6> kThemeIds = {"Dawn (South)", "Dusk (North)", "Noon",
                                                         "Extra (P)",    "Nope",         ""};
inline constexpr std::array<const char*, 5> kLists = {"items", "rows", "themeSources", "go", "up"};

inline const std::vector<std::string>& active_states(std::uint8_t which) {
  static const std::array<std::vector<std::string>, 6> lists = {
      std::vector<std::string>{},
      std::vector<std::string>{"Hover"},
      std::vector<std::string>{"Hover", "Pressed"},
      std::vector<std::string>{"Selected"},
      std::vector<std::string>{"Checked", "Hover", "Selected"},
      std::vector<std::string>{"", "First", "Last"},
  };
  return lists[which % lists.size()];
}

inline DValue value_of(std::uint8_t which) {
  switch (which % 20) {
    case 0:
      return DValue{};
    case 1:
      return DValue{0.0};
    case 2:
      return DValue{-0.0};
    case 3:
      return DValue{1.0};
    case 4:
      return DValue{12.5};
    case 5:
      return DValue{std::numeric_limits<double>::quiet_NaN()};
    case 6:
      return DValue{true};
    case 7:
      return DValue{false};
    case 8:
      return DValue{std::string()};
    case 9:
      return DValue{std::string("#ff102030")};
    case 10:
      return DValue{std::string("List:items")};
    case 11:
      return DValue{std::string("ThemeList")};
    case 12:
      return DValue{std::string("Field:title; State:Selected:flag")};
    case 13:
      return DValue{std::string("list:add:items")};
    case 14:
      return DValue{std::string("list:remove")};
    case 15:
      return DValue{std::string("x")};
    case 16:
      return DValue{std::string("a value long enough to live outside the inline buffer")};
    case 17:
      return DValue{1e308};
    case 18:
      return DValue{-1.0};
    default:
      return DValue{std::string("column")};
  }
}

inline std::string theme_json(std::uint8_t name, std::uint8_t variant) {
  const std::string key = std::string("\"") + kThemeNames[name % kThemeNames.size()] + "\"";
  switch (variant % 6) {
    case 0:
      return "{" + key +
             ": {\"_meta\": {\"publisher\": \"South\"}, \"Foreground\": \"#101010\", "
             "\"Primary\": \"#202020\", \"Secondary\": \"#303030\", \"Tertiary\": \"#404040\"}}";
    case 1:
      return "{" + key + ": {\"Primary\": true, \"Foreground\": 3}}";
    case 2:
      return "{" + key + ": {\"Gradient\": [\"#ff0000\", \"#00ff00\"]}}";
    case 3:
      return "{" + key + ": {\"_meta\": {\"publisher\": \"P\"}, \"Tertiary\": \"#050505\"}}";
    case 4:
      return "[{\"Primary\": \"#777777\"}]";
    default:
      return "not a theme";
  }
}

enum Op : std::uint8_t {
  kSelect,
  kMakeLayer,
  kMakeAttribute,
  kMakeDetached,
  kAdopt,
  kDestroy,
  kReorder,
  kRename,
  kSetBasePath,
  kResolveBases,
  kFinalize,
  kClone,
  kResolveLinks,
  kSetValue,
  kLinkTo,
  kLinkPath,
  kBreakLink,
  kUpdateLinks,
  kOnChange,
  kDisconnect,
  kOnDestroyed,
  kRead,
  kSetTheme,
  kRemoveTheme,
  kAddTheme,
  kRecordTheme,
  kApplyProxy,
  kDispatch,
  kRender,
  kRootName,
  kWindow,
  kHandler,
  kEraseHandler,
  kData,
  kLoad,
  kEngine,
  kOpCount,
};

inline constexpr std::array<const char*, kOpCount> kOpNames = {
    "select",       "make_layer",  "make_attribute", "make_detached", "adopt",
    "destroy",      "reorder",     "rename",         "set_base_path", "resolve_bases",
    "finalize",     "clone",       "resolve_links",  "set_value",     "link_to",
    "link_path",    "break_link",  "update_links",   "on_change",     "disconnect",
    "on_destroyed", "read",        "set_theme",      "remove_theme",  "add_theme",
    "record_theme", "apply_proxy", "dispatch",       "render",        "root_name",
    "window",       "handler",     "erase_handler",  "data",          "load",
    "engine",
};

enum HandlerKind : std::uint8_t {
  kClick,
  kInput,
  kSelectHandler,
  kScan,
  kAction,
  kDefaultAction,
  kScanStatus,
  kThemeChanged,
  kHandlerKinds,
};

class Runner {
 public:
  Runner(std::string_view input, std::string model_dir, std::ostream* trace)
      : program(input), model(std::move(model_dir)), trace(trace) {}
  ~Runner() { tear_down(); }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  void run() {
    Reader in{&program, 0, program.size()};
    const std::uint8_t start = in.u8();
    app = std::make_unique<Ombrix::OApp>();
    app->lists["items"] = {{"a", {{"title", "A"}, {"flag", "1"}}}, {"b", {{"title", "B"}}}};
    app->lists["rows"] = {{"r1", {{"label", "one"}}}};
    app->combo_options["Render/Choice"] = {{"a", "A"}, {"b", "B"}};
    if (start & 1) (void)app->init(model + "/themes", model + "/styles", "", {});
    static constexpr std::array<const char*, 8> screens = {"Page",       "Render", "Binds", "App",
                                                           "Other Page", "Theme",  "A",     ""};
    app->root_name = screens[(start >> 1) % screens.size()];
    if (start & 16) (void)app->render_patches();
    regs.fill(root());
    if (DLayer* theme = app->engine().find_layer("Theme")) regs[1] = theme;
    note("start " + std::to_string(start));
    int ops = 0;
    while (!in.done() && ops++ < kTopLevelOps && ops_left > 0) step(in);
  }

 private:
  struct Reader {
    const std::string* bytes;
    std::size_t pos;
    std::size_t end;
    bool done() const { return pos >= end; }
    std::uint8_t u8() { return pos < end ? static_cast<std::uint8_t>((*bytes)[pos++]) : 0; }
    // The next len bytes, skipped here: the program of a callback.
    std::pair<std::size_t, std::size_t> take(std::size_t len) {
      const std::size_t begin = std::min(pos, end);
      pos = std::min(end, begin + len);
      return {begin, pos};
    }
  };

  struct Connection {
    DAttribute* attribute;
    Drelm::DConnectionID id;
    bool link_change;
  };

  std::string program;
  std::string model;
  std::ostream* trace;
  std::unique_ptr<Ombrix::OApp> app;
  // Objects made without a parent; the harness owns them until one is adopted.
  std::vector<std::unique_ptr<DObject>> detached;
  std::array<DObject*, kRegisters> regs{};
  std::vector<Connection> connections;
  std::vector<std::pair<DObject*, Drelm::DConnectionID>> destroy_connections;

  int ops_left = kAllOps;
  int body_runs = kBodyRuns;
  int renders_left = kRenders;
  int loads_left = kLoads;
  int depth = 0;       // callback and handler programs running
  int restricted = 0;  // library-fired callbacks running: no structural calls
  int destroying = 0;  // a destroy running: callbacks only count
  int merging = 0;     // a finalize or a load running
  bool tearing_down = false;
  std::vector<std::pair<int, std::string>> running;  // handlers on the stack
  std::size_t destroyed_seen = 0;

  // Every live object in pre-order, rebuilt when the structure may have changed.
  std::uint64_t epoch = 0;
  std::uint64_t listed_epoch = std::numeric_limits<std::uint64_t>::max();
  std::vector<DObject*> all;
  std::unordered_set<const DObject*> alive;
  std::unordered_set<const DObject*> former_bases;

  // ---- objects ----

  DLayer* root() const { return app->engine().root(); }

  void changed() { ++epoch; }

  void list_objects() {
    if (listed_epoch == epoch) return;
    all.clear();
    alive.clear();
    std::vector<DObject*> open;
    for (auto it = detached.rbegin(); it != detached.rend(); ++it) open.push_back(it->get());
    open.push_back(root());
    while (!open.empty()) {
      DObject* object = open.back();
      open.pop_back();
      all.push_back(object);
      alive.insert(object);
      const auto& children = object->children();
      for (auto it = children.rbegin(); it != children.rend(); ++it) open.push_back(it->get());
    }
    listed_epoch = epoch;
  }

  bool is_alive(const DObject* object) {
    if (object == nullptr) return false;
    list_objects();
    return alive.count(object) != 0;
  }

  DObject* reg(std::uint8_t r) {
    DObject* object = regs[r % kRegisters];
    return is_alive(object) ? object : nullptr;
  }
  static DLayer* as_layer(DObject* object) {
    return object != nullptr && object->kind() == DObject::DKind::LAYER
               ? static_cast<DLayer*>(object)
               : nullptr;
  }
  static DAttribute* as_attribute(DObject* object) {
    return object != nullptr && object->kind() == DObject::DKind::ATTRIBUTE
               ? static_cast<DAttribute*>(object)
               : nullptr;
  }
  DLayer* layer(std::uint8_t r) { return as_layer(reg(r)); }
  DAttribute* attribute(std::uint8_t r) { return as_attribute(reg(r)); }
  void put(std::uint8_t r, DObject* object) {
    if (object != nullptr && is_alive(object)) regs[r % kRegisters] = object;
  }

  static std::size_t depth_of(const DObject* object) {
    std::size_t levels = 0;
    for (const DObject* up = object->parent(); up != nullptr; up = up->parent()) ++levels;
    return levels;
  }
  static void subtree(DObject* top, std::unordered_set<const DObject*>& out) {
    std::vector<DObject*> open = {top};
    while (!open.empty()) {
      DObject* object = open.back();
      open.pop_back();
      out.insert(object);
      for (const auto& child : object->children()) open.push_back(child.get());
    }
  }
  static std::pair<std::size_t, std::size_t> size_and_height(const DObject* top) {
    std::size_t size = 0;
    std::size_t height = 0;
    std::vector<std::pair<const DObject*, std::size_t>> open = {{top, 1}};
    while (!open.empty()) {
      const auto [object, level] = open.back();
      open.pop_back();
      ++size;
      height = std::max(height, level);
      for (const auto& child : object->children()) open.emplace_back(child.get(), level + 1);
    }
    return {size, height};
  }
  bool inside(const DObject* object, const DObject* top) const {
    for (const DObject* up = object; up != nullptr; up = up->parent()) {
      if (up == top) return true;
    }
    return false;
  }

  // What finalizing everything could make at most: each layer counts its own
  // subtree plus, for its base, the base's whole estimate again.
  struct Growth {
    std::size_t size = 0;
    std::size_t height = 0;
  };
  Growth estimate(DObject* object, std::unordered_map<const DObject*, Growth>& memo,
                  std::unordered_set<const DObject*>& open) {
    if (const auto it = memo.find(object); it != memo.end()) return it->second;
    if (open.count(object) != 0) return {};
    open.insert(object);
    Growth growth{1, 1};
    for (const auto& child : object->children()) {
      const Growth part = estimate(child.get(), memo, open);
      growth.size = std::min(growth.size + part.size, kSaturated);
      growth.height = std::max(growth.height, part.height + 1);
    }
    if (DLayer* layer = as_layer(object); layer != nullptr && is_alive(layer->base())) {
      const Growth part = estimate(layer->base(), memo, open);
      growth.size = std::min(growth.size + part.size, kSaturated);
      growth.height = std::max(growth.height, part.height);
    }
    open.erase(object);
    memo.emplace(object, growth);
    return growth;
  }
  static constexpr std::size_t kSaturated = std::size_t(1) << 40;

  // Largest estimate of any layer, and the estimate of all trees together.
  std::pair<Growth, std::size_t> estimate_all() {
    list_objects();
    std::unordered_map<const DObject*, Growth> memo;
    std::unordered_set<const DObject*> open;
    Growth total;
    std::size_t largest = 0;
    std::vector<DObject*> tops = {root()};
    for (const auto& object : detached) tops.push_back(object.get());
    for (DObject* top : tops) {
      const Growth part = estimate(top, memo, open);
      total.size = std::min(total.size + part.size, kSaturated);
      total.height = std::max(total.height, part.height);
    }
    for (DObject* object : all) {
      if (as_layer(object) != nullptr) largest = std::max(largest, memo[object].size);
    }
    return {total, largest};
  }

  // An object may go unless a layer that stays keeps it as its base, or keeps
  // the base layer whose attribute it is: state look-ups read both later. A
  // base that finalize dropped may still be held by a state cache, so it is
  // kept as well.
  void remember_bases() {
    list_objects();
    for (DObject* object : all) {
      if (DLayer* layer = as_layer(object); layer != nullptr && layer->base() != nullptr) {
        former_bases.insert(layer->base());
      }
    }
  }
  bool may_destroy(DObject* doomed) {
    std::unordered_set<const DObject*> going;
    subtree(doomed, going);
    if (std::any_of(going.begin(), going.end(),
                    [&](const DObject* object) { return former_bases.count(object) != 0; }) ||
        (as_attribute(doomed) != nullptr && former_bases.count(doomed->parent()) != 0)) {
      return false;
    }
    list_objects();
    for (DObject* object : all) {
      DLayer* layer = as_layer(object);
      if (layer == nullptr || going.count(layer) != 0 || layer->base() == nullptr) continue;
      if (going.count(layer->base()) != 0) return false;
      if (doomed->parent() == layer->base() && as_attribute(doomed) != nullptr) return false;
    }
    return true;
  }

  // A layer whose base contains it, as a copy placed inside its base has.
  bool has_base_around_it() {
    list_objects();
    return std::any_of(all.begin(), all.end(), [&](DObject* object) {
      DLayer* candidate = as_layer(object);
      return candidate != nullptr && candidate->base() != nullptr &&
             inside(candidate, candidate->base());
    });
  }

  // ---- text operands ----

  std::string path_text(std::uint8_t mode, std::uint8_t a) {
    if ((mode & 1) == 0) return kPaths[a % kPaths.size()];
    if (DLayer* layer = as_layer(reg(a))) return layer->path();
    if (DAttribute* attribute = as_attribute(reg(a))) return attribute->path();
    return kPaths[a % kPaths.size()];
  }

  template <typename Map>
  static std::string key_at(const Map& map, std::uint8_t k) {
    if (map.empty()) return kNodePaths[k % kNodePaths.size()];
    auto it = map.begin();
    std::advance(it, k % map.size());
    if constexpr (std::is_same_v<typename Map::key_type, typename Map::value_type>) {
      return *it;
    } else {
      return it->first;
    }
  }

  std::string node_path(std::uint8_t source, std::uint8_t k) {
    switch (source % 8) {
      case 0:
        return key_at(app->theme_buttons, k);
      case 1:
        return key_at(app->list_actions, k);
      case 2:
        return key_at(app->checkbox_paths, k);
      case 3:
        return key_at(app->click_handlers, k);
      case 4:
        return key_at(app->input_handlers, k);
      case 5:
        return key_at(app->combo_options, k);
      case 6:
        return kNodePaths[k % kNodePaths.size()];
      default: {
        if (DLayer* layer = as_layer(reg(k))) return layer->path();
        return kNodePaths[k % kNodePaths.size()];
      }
    }
  }

  // An installed id, the active one, or one of a few fixed texts.
  std::string theme_id(std::uint8_t k) {
    if ((k & 0x80) != 0 || app->themes.empty()) return kThemeIds[k % kThemeIds.size()];
    if ((k & 0x40) != 0) return app->active_theme;
    return key_at(app->themes, k);
  }

  std::string action_name(std::uint8_t k) {
    if ((k & 0x80) == 0 && !app->list_actions.empty()) {
      auto it = app->list_actions.begin();
      std::advance(it, k % app->list_actions.size());
      return it->second.action;
    }
    return kLists[k % kLists.size()];
  }

  void note(const std::string& text) {
    if (trace != nullptr) *trace << std::string(std::size_t(depth) * 2, ' ') << text << '\n';
  }

  // ---- programs ----

  bool allowed(Op op) const {
    switch (op) {
      // Neither a callback nor a handler renders or dispatches.
      case kRender:
      case kDispatch:
        return depth == 0;
      // Library-fired callbacks set values, link, rename and use the model;
      // they change no child lists and start no walk of their own.
      case kMakeLayer:
      case kMakeAttribute:
      case kMakeDetached:
      case kAdopt:
      case kDestroy:
      case kReorder:
      case kResolveBases:
      case kFinalize:
      case kClone:
      case kLoad:
        return restricted == 0;
#if OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS
      case kRemoveTheme:
      case kAddTheme:
        return restricted == 0;
      case kRename:
        return merging == 0;
#endif
      default:
        return true;
    }
  }

  void run_body(std::size_t begin, std::size_t end) {
    Reader in{&program, begin, end};
    while (!in.done() && ops_left > 0) step(in);
  }

  bool may_run_body() const {
    return !tearing_down && destroying == 0 && depth < kBodyDepth && body_runs > 0 && ops_left > 0;
  }

  // A change or link-change callback of an attribute.
  void fire(std::size_t begin, std::size_t end) {
    if (!may_run_body()) return;
    --body_runs;
    ++depth;
    ++restricted;
    note("callback");
    run_body(begin, end);
    --restricted;
    --depth;
  }

  // A handler of the model; on_theme_changed runs inside the theme calls,
  // the others inside dispatch.
  void handle(int kind, const std::string& key, std::size_t begin, std::size_t end) {
    if (!may_run_body()) return;
    --body_runs;
    ++depth;
    if (kind == kThemeChanged) ++restricted;
    running.emplace_back(kind, key);
    note("handler " + std::to_string(kind) + " " + key);
    run_body(begin, end);
    running.pop_back();
    if (kind == kThemeChanged) --restricted;
    --depth;
  }

  bool is_running(int kind, const std::string& key) const {
    return std::any_of(running.begin(), running.end(), [&](const auto& entry) {
      return entry.first == kind && (entry.second == key || kind >= kDefaultAction);
    });
  }

  // A handler may remove or replace its own entry, except on_theme_changed,
  // whose callers promise nothing about that.
  bool may_change_handler(int kind, const std::string& key) const {
    if (!is_running(kind, key)) return true;
#if OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS
    return false;
#else
    return kind != kThemeChanged;
#endif
  }

  void step(Reader& in) {
    --ops_left;
    const auto op = static_cast<Op>(in.u8() % kOpCount);
    const std::uint8_t a = in.u8();
    const std::uint8_t b = in.u8();
    if (op == kOnChange || op == kHandler) {
      // The callback's program follows its operands and is skipped here.
      const std::uint8_t c = in.u8();
      const std::uint8_t length = in.u8() % 24;
      const auto [begin, end] = in.take(length);
      if (!allowed(op)) return;
      note(std::string(kOpNames[op]) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
           std::to_string(c) + " [" + std::to_string(end - begin) + "]");
      if (op == kOnChange) {
        on_change(a, b, begin, end);
      } else {
        add_handler(a, b, c, begin, end);
      }
      return;
    }
    const std::uint8_t c = in.u8();
    if (!allowed(op)) return;
    note(std::string(kOpNames[op]) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
         std::to_string(c));
    switch (op) {
      case kSelect:
        select(a, b, c);
        break;
      case kMakeLayer:
        make(a, b, c, true);
        break;
      case kMakeAttribute:
        make(a, b, c, false);
        break;
      case kMakeDetached:
        make_detached(a, b, c);
        break;
      case kAdopt:
        adopt(a, b);
        break;
      case kDestroy:
        destroy(a, b, c);
        break;
      case kReorder:
        reorder(a, b, c, in);
        break;
      case kRename:
        if (DObject* object = reg(a)) object->set_object_name(kNames[b % kNames.size()]);
        break;
      case kSetBasePath:
        if (DLayer* target = layer(a)) target->set_base_path(path_text(b, c));
        break;
      case kResolveBases:
        if (DLayer* target = layer(a)) target->resolve_bases();
        break;
      case kFinalize:
        finalize(a);
        break;
      case kClone:
        clone(a, b);
        break;
      case kResolveLinks:
        resolve_links(a, b);
        break;
      case kSetValue:
        set_value(a, b);
        break;
      case kLinkTo:
        if (DAttribute* from = attribute(a)) (void)from->create_link(attribute(b));
        break;
      case kLinkPath:
        if (DAttribute* from = attribute(a)) (void)from->create_link(path_text(b, c));
        break;
      case kBreakLink:
        if (DAttribute* target = attribute(a)) target->break_link((b & 1) != 0);
        break;
      case kUpdateLinks:
        if (DAttribute* target = attribute(a)) target->update_link_dependencies();
        break;
      case kDisconnect:
        disconnect(a, b);
        break;
      case kOnDestroyed:
        on_destroyed(a, b);
        break;
      case kRead:
        read(a, b, c);
        break;
      case kSetTheme:
        (void)app->set_active_theme(theme_id(a));
        break;
      case kRemoveTheme:
        (void)app->remove_theme(theme_id(a));
        break;
      case kAddTheme:
        (void)app->add_theme_json(theme_json(a, b));
        break;
      case kRecordTheme:
        app->record_active_theme(theme_id(a));
        break;
      case kApplyProxy:
        apply_proxy(a);
        break;
      case kDispatch:
        dispatch(a, b, c);
        break;
      case kRender:
        render(a);
        break;
      case kRootName:
        app->root_name = (a & 1) ? node_path(7, b) : std::string(kNames[b % kNames.size()]);
        break;
      case kWindow:
        window(a, b, c);
        break;
      case kEraseHandler:
        erase_handler(a, b, c);
        break;
      case kData:
        data(a, b, c);
        break;
      case kLoad:
        load(a, b);
        break;
      case kEngine:
        engine(a, b);
        break;
      default:
        break;
    }
  }

  // ---- the layer tree ----

  void select(std::uint8_t r, std::uint8_t mode, std::uint8_t a) {
    list_objects();
    switch (mode % 8) {
      case 0:
        put(r, all[(std::size_t(a) * 131 + mode) % all.size()]);
        break;
      case 1: {
        const std::string path = kPaths[a % kPaths.size()];
        if (path.empty()) {
          put(r, root());
        } else if ((mode & 8) != 0) {
          put(r, app->engine().find_layer(Drelm::split<std::deque<std::string>>(path, '/')));
        } else {
          put(r, app->engine().find_layer(path));
        }
        break;
      }
      case 2:
        if (DObject* parent = reg(a)) {
          const auto& children = parent->children();
          if (!children.empty()) put(r, children[(a >> 3) % children.size()].get());
        }
        break;
      case 3:
        if (DObject* object = reg(a)) put(r, object->parent());
        break;
      case 4:
        if (DLayer* object = layer(a)) put(r, object->base());
        break;
      case 5:
        if (DLayer* object = layer(a)) {
          const char* name = kNames[(a >> 3) % kNames.size()];
          switch (mode >> 3 & 3) {
            case 0:
              put(r, object->find_attribute(std::string_view(name)));
              break;
            case 1:
              put(r, object->find_attribute(std::string(name)));
              break;
            default:
              put(r, object->find_attribute(name));
              break;
          }
        }
        break;
      case 6:
        if (DAttribute* object = attribute(a)) {
          if ((mode & 8) != 0) {
            put(r, Drelm::find_link_target(object, kPaths[(a >> 3) % kPaths.size()]));
          } else if (const Drelm::DLink* link = object->link()) {
            put(r, link->target);
          }
        }
        break;
      default:
        if (DAttribute* object = attribute(a)) {
          put(r, object->state(active_states(mode >> 3)));
        } else if (DLayer* object = layer(a)) {
          put(r, (mode & 8) != 0 ? object->namespace_root() : object->root());
        }
        break;
    }
  }

  void make(std::uint8_t r, std::uint8_t p, std::uint8_t name, bool make_layer) {
    DObject* parent = reg(p);
    if (parent == nullptr || all.size() >= kObjects || depth_of(parent) + 1 > kDepth) return;
    const char* text = kNames[name % kNames.size()];
    if (make_layer) {
      if (as_layer(parent) == nullptr) return;
      changed();
      put(r, Drelm::dMake<DLayer>(parent, text));
    } else {
      changed();
      put(r, Drelm::dMake<DAttribute>(parent, text));
    }
  }

  void make_detached(std::uint8_t r, std::uint8_t kind, std::uint8_t name) {
    list_objects();
    if (all.size() >= kObjects || detached.size() >= 8) return;
    changed();
    switch (kind % 3) {
      case 0:
        detached.push_back(std::make_unique<DLayer>(kNames[name % kNames.size()]));
        break;
      case 1:
        detached.push_back(std::make_unique<DLayer>());
        break;
      default:
        detached.push_back(std::make_unique<DAttribute>(kNames[name % kNames.size()]));
        break;
    }
    put(r, detached.back().get());
  }

  void adopt(std::uint8_t p, std::uint8_t c) {
    DObject* parent = reg(p);
    DObject* child = reg(c);
    if (parent == nullptr || child == nullptr || inside(parent, child)) return;
    if (as_layer(child) != nullptr && as_layer(parent) == nullptr) return;
    const auto it = std::find_if(detached.begin(), detached.end(),
                                 [&](const auto& object) { return object.get() == child; });
    if (it == detached.end()) return;
    if (depth_of(parent) + 1 + size_and_height(child).second > kDepth) return;
    std::unique_ptr<DObject> owned = std::move(*it);
    detached.erase(it);
    changed();
    (void)parent->add_child(std::move(owned));
  }

  void destroy(std::uint8_t p, std::uint8_t c, std::uint8_t how) {
    DObject* parent = reg(p);
    DObject* child = reg(c);
    if ((how & 1) != 0 && child != nullptr && child->parent() == nullptr) {
      // The owner of a parentless object destroys it.
      const auto it = std::find_if(detached.begin(), detached.end(),
                                   [&](const auto& object) { return object.get() == child; });
      if (it == detached.end() || !may_destroy(child)) return;
      std::unique_ptr<DObject> doomed = std::move(*it);
      detached.erase(it);
      changed();
      ++destroying;
      doomed.reset();
      --destroying;
      return;
    }
    if (parent == nullptr) return;
    if (child != nullptr && child->parent() == parent && !may_destroy(child)) return;
    changed();
    ++destroying;
    parent->destroy_child(child);  // a non-child (or null) changes nothing
    --destroying;
  }

  void reorder(std::uint8_t p, std::uint8_t count, std::uint8_t first, Reader& in) {
    DObject* parent = reg(p);
    if (parent == nullptr) return;
    const auto& children = parent->children();
    std::vector<DObject*> order;
    std::uint8_t pick = first;
    for (std::uint8_t i = 0; i < count % 6; ++i) {
      if (i > 0) pick = in.u8();
      if (children.empty()) continue;
      DObject* child = children[pick % children.size()].get();
      if (std::find(order.begin(), order.end(), child) == order.end()) order.push_back(child);
    }
    changed();
    parent->reorder_children(order);
  }

  void finalize(std::uint8_t l) {
    DLayer* target = layer(l);
    if (target == nullptr) return;
    const auto [total, largest] = estimate_all();
    (void)largest;
    if (total.size > kObjects || total.height > kDepth) return;
    if (OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS && has_base_around_it()) return;
    remember_bases();
    changed();
    ++merging;
    target->finalize();
    --merging;
    changed();
  }

  void clone(std::uint8_t s, std::uint8_t d) {
    DObject* source = reg(s);
    DObject* parent = reg(d);
    if (source == nullptr || parent == nullptr) return;
#if OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS
    if (inside(parent, source)) return;
#endif
    const auto [size, height] = size_and_height(source);
    if (all.size() + size > kObjects || depth_of(parent) + 1 + height > kDepth) return;
    if (DLayer* original = as_layer(source)) {
      if (as_layer(parent) == nullptr) return;
      changed();
      original->clone_to(parent);
    } else if (DAttribute* original = as_attribute(source)) {
      changed();
      original->clone_to(parent);
    }
    changed();
  }

  void resolve_links(std::uint8_t o, std::uint8_t which) {
    if (DAttribute* target = attribute(o)) {
      target->resolve_links();
    } else if (DLayer* target = layer(o)) {
      if ((which & 1) != 0) {
        app->engine().resolve_links();
      } else {
        target->resolve_links();
      }
    }
  }

  void set_value(std::uint8_t a, std::uint8_t v) {
    DAttribute* target = attribute(a);
    if (target == nullptr) return;
    const DValue value = value_of(v);
    if ((v & 0x80) != 0 && std::holds_alternative<std::string>(value)) {
      target->set_value(std::get<std::string>(value).c_str());
    } else {
      target->set_value(value);
    }
  }

  void on_change(std::uint8_t a, std::uint8_t kind, std::size_t begin, std::size_t end) {
    DAttribute* target = attribute(a);
    if (target == nullptr || connections.size() >= 64) return;
    // The callback keeps a count of its own: state that must survive its calls.
    auto callback = [this, begin, end, calls = 0]() mutable {
      fire(begin, end);
      ++calls;
    };
    const bool link_change = (kind & 1) != 0;
    const Drelm::DConnectionID id =
        link_change ? target->on_link_change(callback) : target->on_change(callback);
    connections.push_back({target, id, link_change});
  }

  void disconnect(std::uint8_t k, std::uint8_t also) {
    if (connections.empty()) return;
    const Connection connection = connections[k % connections.size()];
    if (!is_alive(connection.attribute) || as_attribute(connection.attribute) == nullptr) return;
    const Drelm::DConnectionID id =
        (also & 1) != 0 ? Drelm::DConnectionID(also >> 1) : connection.id;
    if (connection.link_change) {
      connection.attribute->disconnect_link_change(id);
    } else {
      connection.attribute->disconnect_change(id);
    }
  }

  void on_destroyed(std::uint8_t o, std::uint8_t k) {
    DObject* object = reg(o);
    if (object == nullptr) return;
    if ((k & 1) == 0 && destroy_connections.size() < 64) {
      // Destroy callbacks only count: they run with the object half torn down.
      destroy_connections.emplace_back(object, object->on_destroyed([this] { ++destroyed_seen; }));
    } else if (!destroy_connections.empty()) {
      const auto [owner, id] = destroy_connections[(k >> 1) % destroy_connections.size()];
      if (is_alive(owner)) owner->disconnect_destroyed(id);
    }
  }

  void read(std::uint8_t o, std::uint8_t what, std::uint8_t c) {
    std::size_t sink = 0;
    const std::vector<std::string>& active = active_states(c);
    if (DAttribute* target = attribute(o)) {
      switch (what % 10) {
        case 0:
          sink += target->value().index();
          break;
        case 1:
          sink += target->as_if<double>(active) != nullptr;
          break;
        case 2:
          sink += target->as_if<bool>(active) != nullptr;
          break;
        case 3:
          sink += target->as_if<std::string>(active) != nullptr;
          break;
        case 4:
          sink += std::size_t(target->as<bool>(active)) + target->as<std::string>(active).size() +
                  std::size_t(target->as<double>(active) > 0);
          break;
        case 5:
          sink += target->states((c & 1) != 0).size() + target->has_states();
          break;
        case 6:
          sink += target->path().size();
          break;
        case 7:
          sink += target->dependents((c & 1) != 0).size();
          break;
        case 8:
          sink += target->in_link_chain(attribute(c));
          break;
        default:
          if (const Drelm::DLink* link = target->link()) sink += link->path.size() + link->cyclic;
          break;
      }
    } else if (DLayer* target = layer(o)) {
      switch (what % 8) {
        case 0:
          sink += target->path().size() + target->base_path().size();
          break;
        case 1:
          sink += target->has_unresolved_base() + target->dependencies().size();
          break;
        case 2:
          sink += target->children().size() + target->attributes().size();
          break;
        case 3:
          sink += target->find_layer(std::string(kPaths[c % kPaths.size()])) != nullptr;
          break;
        case 4: {
          std::vector<DAttribute*> found;
          target->find_children_helper<DAttribute>(target, found, (c & 1) != 0);
          sink += found.size();
          break;
        }
        case 5: {
          std::vector<DLayer*> found;
          target->find_children_helper<DLayer>(target, found, (c & 1) != 0);
          sink += found.size();
          break;
        }
        case 6:
          sink += target->children_version() + target->object_name().size();
          break;
        default:
          sink += Drelm::split<std::deque<std::string>>(kPaths[c % kPaths.size()], '/').size();
          break;
      }
    }
    if (trace != nullptr) note("  = " + std::to_string(sink));
  }

  // ---- the model ----

  void apply_proxy(std::uint8_t k) {
    if (app->themes.empty()) return;
    // A copy: the call's own callbacks may remove the installed theme.
    const Ombrix::OTheme theme = std::next(app->themes.begin(), k % app->themes.size())->second;
    app->apply_theme_to_proxy(theme);
  }

  void dispatch(std::uint8_t source, std::uint8_t k, std::uint8_t event) {
    const std::string path = node_path(source, k);
    changed();
    app->dispatch(path, kEvents[event % kEvents.size()]);
    changed();
  }

  void render(std::uint8_t kind) {
    if (renders_left-- <= 0) return;
    switch (kind % 4) {
      case 0:
        (void)app->render_patches();
        break;
      case 1:
        (void)app->render_patches_json();
        break;
      case 2:
        (void)app->render_tree_json();
        break;
      default:
        (void)app->build_render_tree();
        break;
    }
  }

  void window(std::uint8_t what, std::uint8_t a, std::uint8_t b) {
    static constexpr std::array<double, 6> widths = {300, 600, 700, 900.5, 1200, -1};
    static constexpr std::array<double, 4> heights = {0, 300.4, 801.5, -5};
    static constexpr std::array<double, 4> scrolls = {31, -31, 10, -40};
    switch (what % 7) {
      case 0:
        (void)app->set_viewport_width(widths[a % widths.size()]);
        break;
      case 1:
        (void)app->set_viewport_height(heights[a % heights.size()]);
        break;
      case 2:
        (void)app->on_scroll(scrolls[a % scrolls.size()]);
        break;
      case 3:
        (void)app->set_controls_hidden((a & 1) != 0);
        break;
      case 4:
        (void)app->set_maximized((a & 1) != 0);
        break;
      case 5:
        app->toggle_state(node_path(a, b), kNames[b % kNames.size()]);
        break;
      default: {
        static constexpr std::array<const char*, 3> globals = {"Mobile", "Desktop", "Selected"};
        const std::string state = globals[a % globals.size()];
        if (!app->states.erase(state)) app->states.insert(state);
        break;
      }
    }
  }

  void add_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k, std::size_t begin,
                   std::size_t end) {
    Ombrix::OApp& model = *app;
    const int which = kind % kHandlerKinds;
    const std::string key = which == kAction ? action_name(k) : node_path(source, k);
    if (!may_change_handler(which, key)) return;
    // Each handler counts its calls after its program ran, as a stateful
    // handler of a host would.
    switch (which) {
      case kClick:
        model.click_handlers[key] = [this, key, begin, end, calls = 0]() mutable {
          handle(kClick, key, begin, end);
          ++calls;
        };
        break;
      case kInput:
        model.input_handlers[key] = [this, key, begin, end, calls = 0](const std::string&) mutable {
          handle(kInput, key, begin, end);
          ++calls;
        };
        break;
      case kSelectHandler:
        model.select_handlers[key] = [this, key, begin, end,
                                      calls = 0](const std::string&) mutable {
          handle(kSelectHandler, key, begin, end);
          ++calls;
        };
        break;
      case kScan:
        model.scan_handlers[key] = [this, key, begin, end, calls = 0](const std::string&) mutable {
          handle(kScan, key, begin, end);
          ++calls;
        };
        break;
      case kAction:
        model.action_handlers[key] = [this, key, begin, end, calls = 0](
                                         const std::string&, const std::string&,
                                         const std::string&) mutable {
          handle(kAction, key, begin, end);
          ++calls;
        };
        break;
      case kDefaultAction:
        model.default_action_handler = [this, begin, end, calls = 0](const std::string&,
                                                                     const std::string&,
                                                                     const std::string&) mutable {
          handle(kDefaultAction, "", begin, end);
          ++calls;
        };
        break;
      case kScanStatus:
        model.on_scan_status = [this, begin, end, calls = 0](const std::string&,
                                                             const std::string&) mutable {
          handle(kScanStatus, "", begin, end);
          ++calls;
        };
        break;
      default:
        model.on_theme_changed = [this, begin, end, calls = 0](const std::string&) mutable {
          handle(kThemeChanged, "", begin, end);
          ++calls;
        };
        break;
    }
  }

  void erase_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k) {
    Ombrix::OApp& model = *app;
    const int which = kind % kHandlerKinds;
    const std::string key = which == kAction ? action_name(k) : node_path(source, k);
    if (!may_change_handler(which, key)) return;
    switch (which) {
      case kClick:
        model.click_handlers.erase(key);
        break;
      case kInput:
        model.input_handlers.erase(key);
        break;
      case kSelectHandler:
        model.select_handlers.erase(key);
        break;
      case kScan:
        model.scan_handlers.erase(key);
        break;
      case kAction:
        model.action_handlers.erase(key);
        break;
      case kDefaultAction:
        model.default_action_handler = nullptr;
        break;
      case kScanStatus:
        model.on_scan_status = nullptr;
        break;
      default:
        model.on_theme_changed = nullptr;
        break;
    }
  }

  void data(std::uint8_t what, std::uint8_t a, std::uint8_t b) {
    Ombrix::OApp& model = *app;
    const std::string path = node_path(a, b);
    const std::string text = kNames[b % kNames.size()];
    switch (what % 8) {
      case 0:
        model.texts[path] = text;
        break;
      case 1:
        if (!model.hidden_paths.erase(path)) model.hidden_paths.insert(path);
        break;
      case 2:
        if (model.combo_options[path].size() < 8) {
          model.combo_options[path].push_back({(b & 1) ? "aa" : "a", text});
        }
        break;
      case 3: {
        auto& rows = model.lists[kLists[a % kLists.size()]];
        if ((b & 1) != 0 && !rows.empty()) {
          rows.pop_back();
        } else if (rows.size() < 6) {
          rows.push_back({"n" + std::to_string(rows.size()), {{"title", text}, {"flag", "1"}}});
        }
        break;
      }
      case 4:
        model.pending_editor_values.emplace_back(path, text);
        break;
      case 5:
        model.qr_data[path] = text;
        break;
      case 6:
        model.hrefs[path] = text;
        break;
      default:
        model.heights[path] = double(b);
        break;
    }
  }

  void load(std::uint8_t dir, std::uint8_t ns) {
    if (loads_left <= 0) return;
    static constexpr std::array<const char*, 4> dirs = {"/styles/widgets", "/styles/mounts",
                                                        "/themes", "/styles"};
    static constexpr std::array<const char*, 4> spaces = {"", "Ombrix", "Extra", "Theme"};
    // The load resolves every base still open and finalizes what it reaches:
    // count each open base as the largest layer there is.
    const auto [total, largest] = estimate_all();
    std::size_t open_bases = 0;
    for (DObject* object : all) {
      if (DLayer* candidate = as_layer(object); candidate && candidate->has_unresolved_base()) {
        ++open_bases;
      }
    }
    if (total.size + (open_bases + 64) * (largest + 1) > kLoadObjects || total.height > kDepth) {
      return;
    }
    if (OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS && has_base_around_it()) return;
    --loads_left;
    remember_bases();
    changed();
    ++merging;
    app->engine().load_files(model + dirs[dir % dirs.size()], spaces[ns % spaces.size()]);
    --merging;
    changed();
  }

  void engine(std::uint8_t what, std::uint8_t a) {
    switch (what % 3) {
      case 0:
        app->engine().resolve_links();
        break;
      case 1:
        note("  unresolved " + std::to_string(app->engine().unresolved_links().size()));
        break;
      default:
        put(a, app->engine().find_layer(kPaths[a % kPaths.size()]));
        break;
    }
  }

  void tear_down() {
    // Callbacks stay quiet from here: the model's members go before its tree.
    tearing_down = true;
    ++destroying;
    detached.clear();
    app.reset();
  }
};

}  // namespace calls

// Runs one program; trace, when given, receives each call as it is made.
inline void run_calls(std::string_view input, const std::string& model_dir,
                      std::ostream* trace = nullptr) {
  calls::Runner runner(input, model_dir, trace);
  runner.run();
}

}  // namespace fuzz
