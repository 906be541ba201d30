// Decoding of call programs, the registers that address the objects, and
// the callbacks and handlers that run programs of their own.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app_model/app.h"
#include "fuzz/calls.h"
#include "fuzz/calls_runner.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace fuzz {
namespace calls {
namespace {

// Node paths as the render tree names them, for events, stores and handlers.
constexpr std::array<const char*, 16> kNodePaths = {
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

constexpr std::array<const char*, 6> kThemeIds = {"Dawn (South)", "Dusk (North)", "Noon",
                                                  "Extra (P)",    "Nope",         ""};

template <typename Map>
std::string key_at(const Map& map, std::uint8_t k) {
  if (map.empty()) return kNodePaths[k % kNodePaths.size()];
  auto it = map.begin();
  std::advance(it, k % map.size());
  if constexpr (std::is_same_v<typename Map::key_type, typename Map::value_type>) {
    return *it;
  } else {
    return it->first;
  }
}

}  // namespace

void Runner::run() {
  Reader in{&program, 0, program.size()};
  const std::uint8_t start = in.u8();
  app = std::make_unique<Ombrix::OApp>();
  app->lists["items"] = {{"a", {{"title", "A"}, {"flag", "1"}}}, {"b", {{"title", "B"}}}};
  app->lists["rows"] = {{"r1", {{"label", "one"}}}};
  app->combo_options["Render/Choice"] = {{"a", "A"}, {"b", "B"}};
  // The host's loop: what the model posts runs after the call that posted it.
  app->post = [this](std::function<void()> callback) { posted.push_back(std::move(callback)); };
  regs.fill(root());
  note("start " + std::to_string(start));
  int ops = 0;
  if ((start & 1) != 0 && (start & 32) != 0) {
    // Callbacks attached to the empty tree run while the model loads into it.
    for (int early = in.u8() % 8; early > 0 && !in.done() && ops_left > 0; --early, ++ops) {
      top_level_step(in);
    }
  }
  if (start & 1) (void)app->init(model + "/themes", model + "/styles", "", {});
  run_posted();
  static constexpr std::array<const char*, 8> screens = {"Page",       "Render", "Binds", "App",
                                                         "Other Page", "Theme",  "A",     ""};
  app->root_name = screens[(start >> 1) % screens.size()];
  if (start & 16) (void)app->render_patches();
  if (DLayer* theme = app->engine().find_layer("Theme")) regs[1] = theme;
  while (!in.done() && ops++ < kTopLevelOps && ops_left > 0) top_level_step(in);
}

void Runner::top_level_step(Reader& in) {
  step(in);
  run_posted();
}

void Runner::run_posted() {
  // What runs may post more; that waits for the next turn.
  std::vector<std::function<void()>> turn;
  turn.swap(posted);
  for (auto& callback : turn) {
    if (tearing_down) return;
    note("posted");
    callback();
  }
}

void Runner::tear_down() {
  // Callbacks stay quiet from here: the model's members go before its tree.
  tearing_down = true;
  ++destroying;
  posted.clear();
  detached.clear();
  app.reset();
}

void Runner::list_objects() {
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

bool Runner::is_alive(const DObject* object) {
  if (object == nullptr) return false;
  list_objects();
  return alive.count(object) != 0;
}

DObject* Runner::reg(std::uint8_t r) {
  DObject* object = regs[r % kRegisters];
  return is_alive(object) ? object : nullptr;
}

DLayer* Runner::as_layer(DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::LAYER ? static_cast<DLayer*>(object)
                                                                      : nullptr;
}

DAttribute* Runner::as_attribute(DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::ATTRIBUTE
             ? static_cast<DAttribute*>(object)
             : nullptr;
}

void Runner::put(std::uint8_t r, DObject* object) {
  if (object != nullptr && is_alive(object)) regs[r % kRegisters] = object;
}

// ---- text operands ----

std::string Runner::path_text(std::uint8_t mode, std::uint8_t a) {
  if ((mode & 1) == 0) return kPaths[a % kPaths.size()];
  if (DLayer* layer = as_layer(reg(a))) return layer->path();
  if (DAttribute* attribute = as_attribute(reg(a))) return attribute->path();
  return kPaths[a % kPaths.size()];
}

std::string Runner::node_path(std::uint8_t source, std::uint8_t k) {
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
std::string Runner::theme_id(std::uint8_t k) {
  if ((k & 0x80) != 0 || app->themes.empty()) return kThemeIds[k % kThemeIds.size()];
  if ((k & 0x40) != 0) return app->active_theme;
  return key_at(app->themes, k);
}

std::string Runner::action_name(std::uint8_t k) {
  if ((k & 0x80) == 0 && !app->list_actions.empty()) {
    auto it = app->list_actions.begin();
    std::advance(it, k % app->list_actions.size());
    return it->second.action;
  }
  return kLists[k % kLists.size()];
}

void Runner::note(const std::string& text) {
  if (trace != nullptr) *trace << std::string(std::size_t(depth) * 2, ' ') << text << '\n';
}

// ---- programs ----

bool Runner::allowed(Op op) const {
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

void Runner::run_body(std::size_t begin, std::size_t end) {
  Reader in{&program, begin, end};
  while (!in.done() && ops_left > 0) step(in);
}

bool Runner::may_run_body() const {
  return !tearing_down && depth < kBodyDepth && body_runs > 0 && ops_left > 0;
}

// A change or link-change callback of an attribute.
void Runner::fire(std::size_t begin, std::size_t end, DAttribute* reported) {
  if (!may_run_body()) return;
  --body_runs;
  ++depth;
  ++restricted;
  reporting.push_back(reported);
  note("callback");
  run_body(begin, end);
  reporting.pop_back();
  --restricted;
  --depth;
}

// A callback destroys the attribute whose change it reports, or the layer that
// holds it: the write or walk that called it must cope, whatever it holds.
void Runner::destroy_reported(std::uint8_t how) {
  DAttribute* reported = reporting.empty() ? nullptr : reporting.back();
  if (reported == nullptr || !is_alive(reported)) return;
  DObject* doomed = reported;
  if ((how & 1) != 0 && as_layer(reported->parent()) != nullptr) doomed = reported->parent();
  DObject* parent = doomed->parent();
  if (parent == nullptr) return;
  note("  destroys " + std::string(doomed == reported ? "itself" : "its layer"));
  changed();
  ++destroying;
  parent->destroy_child(doomed);
  --destroying;
  changed();
}

// A handler of the model; on_theme_changed runs inside the theme calls,
// the others inside dispatch.
void Runner::handle(int kind, const std::string& key, std::size_t begin, std::size_t end) {
  if (!may_run_body()) return;
  --body_runs;
  ++depth;
  if (kind == kThemeChanged) ++restricted;
  running.emplace_back(kind, key);
  reporting.push_back(nullptr);
  note("handler " + std::to_string(kind) + " " + key);
  run_body(begin, end);
  reporting.pop_back();
  running.pop_back();
  if (kind == kThemeChanged) --restricted;
  --depth;
}

bool Runner::is_running(int kind, const std::string& key) const {
  return std::any_of(running.begin(), running.end(), [&](const auto& entry) {
    return entry.first == kind && (entry.second == key || kind >= kDefaultAction);
  });
}

// A handler, on_theme_changed too, may remove or replace its own entry.
bool Runner::may_change_handler(int kind, const std::string& key) const {
  return !OMBRIX_FUZZ_CALLS_AVOID_KNOWN_FAULTS || !is_running(kind, key);
}

void Runner::step(Reader& in) {
  --ops_left;
  ++calls_made;
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
  // A destroy callback with an odd third operand runs a program that follows.
  std::pair<std::size_t, std::size_t> body{0, 0};
  if (op == kOnDestroyed && (c & 1) != 0) body = in.take(in.u8() % 24);
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
      // In a callback, what it reports or any child; a tree of the harness's
      // own stays, as the operation running may be one of its own.
      if (restricted == 0) {
        destroy(a, b, c);
      } else if ((c & 2) != 0) {
        destroy(a, b, static_cast<std::uint8_t>(c & ~1U));
      } else {
        destroy_reported(c);
      }
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
      on_destroyed(a, b, body.first, body.second);
      break;
    case kRead:
      read(a, b, c);
      break;
    case kSetTheme:
    case kRemoveTheme:
    case kAddTheme:
      theme_call(op, a, b);
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

}  // namespace calls

void run_calls(std::string_view input, const std::string& model_dir, std::ostream* trace) {
  calls::Runner runner(input, model_dir, trace);
  runner.run();
}

}  // namespace fuzz
