#pragma once

// The interpreter behind fuzz::run_calls, shared by its sources: calls.cpp
// decodes programs and keeps the registers, calls_tree.cpp runs the calls on
// the layer tree, calls_model.cpp those on the application model.
//
// Byte 0 chooses the start (initialised model or empty one, first screen,
// and whether a few calls run on the empty tree before the model loads);
// then each operation is one byte (modulo the number of operations) followed
// by its operands; missing bytes read as 0. Objects are addressed through
// eight registers, each checked to be alive before use.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "theme_language/attribute.h"
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

inline constexpr std::array<const char*, 5> kLists = {"items", "rows", "themeSources", "go", "up"};

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

  void run();

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
  // What the model posted to the host's loop, run between top-level calls.
  std::vector<std::function<void()>> posted;

  int ops_left = kAllOps;
  int body_runs = kBodyRuns;
  int renders_left = kRenders;
  int loads_left = kLoads;
  int depth = 0;       // callback and handler programs running
  int restricted = 0;  // library-fired callbacks running: no structural calls
  int destroying = 0;  // a destroy running: callbacks only count
  int merging = 0;     // a finalize or a load running
  int resolving = 0;   // a resolve_links walk running
  bool tearing_down = false;
  std::vector<std::pair<int, std::string>> running;  // handlers on the stack
  // The attribute whose change each running callback reports; null for handlers.
  std::vector<DAttribute*> reporting;
  std::size_t destroyed_seen = 0;
  // Calls made, including those of callbacks and handlers: what may have
  // changed the tree while a theme call ran.
  std::uint64_t calls_made = 0;

  // Every live object in pre-order, rebuilt when the structure may have changed.
  std::uint64_t epoch = 0;
  std::uint64_t listed_epoch = std::numeric_limits<std::uint64_t>::max();
  std::vector<DObject*> all;
  std::unordered_set<const DObject*> alive;

  // ---- objects and registers (calls.cpp) ----

  DLayer* root() const { return app->engine().root(); }
  void changed() { ++epoch; }
  void list_objects();
  bool is_alive(const DObject* object);
  DObject* reg(std::uint8_t r);
  static DLayer* as_layer(DObject* object);
  static DAttribute* as_attribute(DObject* object);
  DLayer* layer(std::uint8_t r) { return as_layer(reg(r)); }
  DAttribute* attribute(std::uint8_t r) { return as_attribute(reg(r)); }
  void put(std::uint8_t r, DObject* object);

  // ---- text operands (calls.cpp) ----

  std::string path_text(std::uint8_t mode, std::uint8_t a);
  std::string node_path(std::uint8_t source, std::uint8_t k);
  std::string theme_id(std::uint8_t k);
  std::string action_name(std::uint8_t k);
  void note(const std::string& text);

  // ---- programs (calls.cpp) ----

  bool allowed(Op op) const;
  void run_body(std::size_t begin, std::size_t end);
  bool may_run_body() const;
  void fire(std::size_t begin, std::size_t end, DAttribute* reported = nullptr);
  void destroy_reported(std::uint8_t how);
  void handle(int kind, const std::string& key, std::size_t begin, std::size_t end);
  bool is_running(int kind, const std::string& key) const;
  bool may_change_handler(int kind, const std::string& key) const;
  void step(Reader& in);
  void top_level_step(Reader& in);
  void run_posted();
  void tear_down();

  // ---- bounds on what the tree may grow to (calls_tree.cpp) ----

  struct Growth {
    std::size_t size = 0;
    std::size_t height = 0;
  };
  static std::size_t depth_of(const DObject* object);
  static void subtree(DObject* top, std::unordered_set<const DObject*>& out);
  static std::pair<std::size_t, std::size_t> size_and_height(const DObject* top);
  bool inside(const DObject* object, const DObject* top) const;
  Growth estimate(DObject* object, std::unordered_map<const DObject*, Growth>& memo,
                  std::unordered_set<const DObject*>& open);
  std::pair<Growth, std::size_t> estimate_all();
  bool has_base_around_it();

  // ---- the layer tree (calls_tree.cpp) ----

  void select(std::uint8_t r, std::uint8_t mode, std::uint8_t a);
  void make(std::uint8_t r, std::uint8_t p, std::uint8_t name, bool make_layer);
  void make_detached(std::uint8_t r, std::uint8_t kind, std::uint8_t name);
  void adopt(std::uint8_t p, std::uint8_t c);
  void destroy(std::uint8_t p, std::uint8_t c, std::uint8_t how);
  void reorder(std::uint8_t p, std::uint8_t count, std::uint8_t first, Reader& in);
  void finalize(std::uint8_t l);
  void clone(std::uint8_t s, std::uint8_t d);
  void resolve_links(std::uint8_t o, std::uint8_t which);
  void set_value(std::uint8_t a, std::uint8_t v);
  void on_change(std::uint8_t a, std::uint8_t kind, std::size_t begin, std::size_t end);
  void disconnect(std::uint8_t k, std::uint8_t also);
  void on_destroyed(std::uint8_t o, std::uint8_t k, std::size_t begin, std::size_t end);
  void read(std::uint8_t o, std::uint8_t what, std::uint8_t c);

  // ---- the model (calls_model.cpp) ----

  void apply_proxy(std::uint8_t k);
  void dispatch(std::uint8_t source, std::uint8_t k, std::uint8_t event);
  void render(std::uint8_t kind);
  void window(std::uint8_t what, std::uint8_t a, std::uint8_t b);
  void add_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k, std::size_t begin,
                   std::size_t end);
  void erase_handler(std::uint8_t kind, std::uint8_t source, std::uint8_t k);
  void move_handler(int which, const std::string& key, int how, std::uint8_t k);
  void post_handler(int which, const std::string& key, int how);
  bool shows_active_theme();
  void theme_call(Op op, std::uint8_t a, std::uint8_t b);
  void check_theme_shown(bool showed, std::uint64_t calls_before, std::uint64_t calm_calls,
                         const char* call);
  void data(std::uint8_t what, std::uint8_t a, std::uint8_t b);
  void load(std::uint8_t dir, std::uint8_t ns);
  void engine(std::uint8_t what, std::uint8_t a);
};

}  // namespace calls
}  // namespace fuzz
