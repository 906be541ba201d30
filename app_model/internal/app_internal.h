#pragma once

// Pieces of OApp's work shared between its source files; not part of the public interface.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "app_model/render_node.h"
#include "app_model/theme.h"

namespace Drelm {
class DLayer;
}

namespace Ombrix {

// Themes handed down the render recursion.
struct ThemeCtx {
  const ThemeMap* themes = nullptr;
  const OTheme* active = nullptr;
};

// The data-list row being built; fields is null outside rows.
struct RowCtx {
  const std::map<std::string, std::string, std::less<>>* fields = nullptr;
  std::string list;
  std::string id;
};

// Parses theme JSON text; false (out untouched) when it holds no theme.
bool parse_theme_json(const std::string& text, OTheme& out);

// What stays fixed for one render: the stores it reads, the two maps it fills, the
// themes and the "Mobile" factors. Built once per render and handed down by reference;
// it only refers to the stores, so building it copies nothing. theme_buttons and
// list_actions are the render's outputs and are written through the record even where
// it is passed as const. Build it with designated initialisers: a store given to the
// wrong member then reads wrong at a glance, and one left out does not compile.
struct StyleMemo;

// What one render found out about base chains. A node's kind, whether it is a
// detail and whether its facts stay in its tree are each decided by the first
// link of its base chain that settles them; along a long chain of bases every
// node would walk the rest of the chain again, so past a few links the
// answers of each link walked are kept here, and the next walk stops at the
// first link already answered. Lives for one render, as the layer tree does
// not change while a tree is built.
struct ChainAnswers {
  struct Facts {
    std::int8_t kind = -1;
    std::int8_t detail = -1;
    std::int8_t leaves = -1;
  };
  // Keyed by address, which no author can choose.
  std::unordered_map<const Drelm::DLayer*, Facts> by_layer;
  std::vector<const Drelm::DLayer*> walked;
};

struct RenderContext {
  const StringMap& texts;
  const StringMap& media_sources;
  const StringMap& hrefs;
  const StringMap& qr_data;
  const DoubleMap& heights;
  const NodeStatesMap& node_states;
  const StringSet& hidden_paths;
  const ListMap& lists;
  ThemeCtx theme_ctx;
  StringMap& theme_buttons;
  ListActionMap& list_actions;
  double size_scale;
  double font_scale;
  double spacing_scale;
  // Styles of the last render to answer from; null: resolve every style.
  StyleMemo* style_memo = nullptr;
  // Nodes open on the way down to the one being built.
  mutable std::size_t depth = 0;
  mutable ChainAnswers chains = {};
};

// Deepest node a render builds. Loaded sources nest layers at most 1024 levels
// below a namespace layer, so no loaded tree comes near; a tree made deeper
// through the library's interface ends here in leaves, rather than
// overflowing the stack in the build or in the walks over the render tree.
inline constexpr std::size_t kMaxRenderDepth = 1100;

// Render tree building: one node and its subtree, built from the layer for the path.
RenderNode build_node(Drelm::DLayer* layer, const std::string& path, const StringMap& texts,
                      const StringMap& media_sources, const StringMap& hrefs,
                      const StringMap& qr_data, const DoubleMap& heights,
                      const NodeStatesMap& node_states, const StringSet& hidden_paths,
                      std::vector<std::string> states, StringMap& theme_buttons,
                      const OTheme* row_theme, const ThemeCtx& theme_ctx, const ListMap& lists,
                      ListActionMap& list_actions, const RowCtx& row, double size_scale,
                      double font_scale, double spacing_scale);
// The same, filling a default-constructed node in place, so that a node is
// written once where it lives instead of being moved up level by level.
// `path` may be node.path itself, written there by the caller.
void build_node_into(RenderNode& node, Drelm::DLayer* layer, const std::string& path,
                     const std::vector<std::string>& states, const OTheme* row_theme,
                     const RowCtx& row, const RenderContext& context);
// The child layers of layer that derive from no "Detail".
std::vector<Drelm::DLayer*> widget_children(Drelm::DLayer* layer, ChainAnswers* chains = nullptr);
// The same; also sets border to its first child layer named "Border" (null when
// none), so one walk over the children serves both.
std::vector<Drelm::DLayer*> widget_children_and_border(Drelm::DLayer* layer, Drelm::DLayer*& border,
                                                       ChainAnswers* chains = nullptr);
void collect_checkbox_paths(const RenderNode& node, StringSet& paths);
void fold_viewport_heights(RenderNode& node, double viewport_height, const DoubleMap& heights,
                           bool& uses_viewport_heights);
void apply_combo_data(RenderNode& node, const ComboOptionsMap& combo_options,
                      const StringMap& combo_selected);

// Binds, data lists and theme buttons.
std::vector<std::string> split_binds(const std::string& binds);
// One button per installed theme, from the layer's first widget child.
void generate_theme_buttons(Drelm::DLayer* layer, const std::string& path, RenderNode& node,
                            const StringMap& texts, const StringMap& media_sources,
                            const StringMap& hrefs, const StringMap& qr_data,
                            const DoubleMap& heights, const NodeStatesMap& node_states,
                            const StringSet& hidden_paths, const std::vector<std::string>& states,
                            StringMap& theme_buttons, const ThemeCtx& theme_ctx,
                            const ListMap& lists, ListActionMap& list_actions, double size_scale,
                            double font_scale, double spacing_scale);
// The same from the widget children already at hand.
void generate_theme_buttons_from(const std::vector<Drelm::DLayer*>& templates,
                                 const std::string& path, RenderNode& node,
                                 const std::vector<std::string>& states,
                                 const RenderContext& context);
void paint_theme_text(RenderNode& node, const std::string& color);
// Inside a row: appends the state names that the "State:" tokens switch on; true when
// any was appended (the style must then be resolved again).
bool apply_state_binds(std::string_view binds, const RowCtx& row, std::vector<std::string>& states);
// Applies the node's bind tokens (other than "State:") to the node.
void apply_binds(RenderNode& node, const OTheme* row_theme, const ThemeCtx& theme_ctx,
                 const RowCtx& row);
// Registers the "list:" intent of a button node under its path.
void register_list_intent(const RenderNode& node, const RowCtx& row, ListActionMap& list_actions);
// Builds the rows and separators of a node bound with "List:".
void build_data_list(const std::vector<Drelm::DLayer*>& templates, const std::string& path,
                     RenderNode& node, const std::vector<std::string>& states,
                     const RenderContext& context);

// Diff and JSON.
void diff_matched(const RenderNode& old_node, const RenderNode& new_node, std::vector<Patch>& out);
nlohmann::ordered_json node_to_json(const RenderNode& node);

// Handlers run from their place. A handler is moved out of the map entry or
// member that holds it for its call, so that it may erase or replace that
// place without pulling the callee out from under itself; a stand-in holds
// the place meanwhile. Every copy of the stand-in, in a map or wherever the
// program keeps it, shares the one real handler with its state.

template <typename Function>
struct StandIn;

// The real handler while it runs from its place, and afterwards for as long
// as copies of its stand-in live where the program kept them. It lives in
// the call's frame and moves to the heap only when such copies outlast the
// call; the last copy to go frees it.
template <typename Function>
struct HandlerCell {
  Function handler;
  // Every live stand-in of this cell, linked through the stand-ins themselves.
  StandIn<Function>* copies = nullptr;
  std::size_t count = 0;
  bool running = false;
  // A handler that is not re-entrant ignores calls that reach it while it runs.
  bool reentrant = false;
  bool on_heap = false;
};

// Called, a stand-in runs the handler it shares. Each copy links itself into
// its cell's list, so that the cell can tell copies outside the maps from
// those in them, and move them all to the heap at once.
template <typename Function>
struct StandIn {
  HandlerCell<Function>* cell;
  StandIn* prev = nullptr;
  StandIn* next = nullptr;

  explicit StandIn(HandlerCell<Function>* of) { join(of); }
  StandIn(const StandIn& other) { join(other.cell); }
  StandIn& operator=(const StandIn&) = delete;
  ~StandIn() {
    if (prev != nullptr) prev->next = next;
    if (next != nullptr) next->prev = prev;
    if (cell->copies == this) cell->copies = next;
    if (--cell->count == 0 && cell->on_heap) delete cell;
  }

  template <typename... Args>
  void operator()(const Args&... args) const;

 private:
  void join(HandlerCell<Function>* of) {
    cell = of;
    next = of->copies;
    if (next != nullptr) next->prev = this;
    of->copies = this;
    ++of->count;
  }
};

// Runs the handler a stand-in shares.
template <typename Function, typename... Args>
void run_shared(HandlerCell<Function>& cell, const Args&... args) {
  if ((cell.running && !cell.reentrant) || !cell.handler) return;
  // Keeps the cell alive while the handler drops the copies it knows of.
  const StandIn<Function> hold(&cell);
  struct Done {
    HandlerCell<Function>& cell;
    bool was_running;
    ~Done() { cell.running = was_running; }
  } const done{cell, std::exchange(cell.running, true)};
  cell.handler(args...);
}

template <typename Function>
template <typename... Args>
void StandIn<Function>::operator()(const Args&... args) const {
  run_shared(*cell, args...);
}

template <typename Function>
bool holds_stand_in(const Function& place, const HandlerCell<Function>& cell) {
  const auto* stand_in = place.template target<StandIn<Function>>();
  return stand_in != nullptr && stand_in->cell == &cell;
}

// A handler's call from its place: the handler lives in the frame's cell,
// the place holds a stand-in. When the call ends, however it ends, the
// handler goes back to the places that hold a stand-in; when copies also
// live outside the maps, all of them, places included, keep sharing it
// from the heap. `find` gives the handler's own place again (null when it
// is gone), `places` visits every place a stand-in may reach from there.
template <typename Function, typename Find, typename Places>
class HandlerCall {
 public:
  HandlerCall(Function& place, const Find& find, const Places& places, bool reentrant)
      : find(find), places(places) {
    // Made before the handler leaves its place: a failure keeps it there.
    Function stand_in = StandIn<Function>(&cell);
    cell.handler = std::move(place);
    place = std::move(stand_in);
    cell.running = true;
    cell.reentrant = reentrant;
  }
  HandlerCall(const HandlerCall&) = delete;
  HandlerCall& operator=(const HandlerCall&) = delete;
  ~HandlerCall() {
    cell.running = false;
    if (cell.count != 0) put_back();
    // Nothing may point into this frame once it is gone.
    if (cell.count != 0) to_heap();
  }

  template <typename... Args>
  void run(const Args&... args) {
    cell.handler(args...);
  }

 private:
  // The handler's own place, else the first other one, gets the handler
  // itself; the others get copies as the call left it. A place the handler
  // cleared or replaced keeps what it holds. Only when the own place holds
  // the one copy are the other places left unvisited.
  void put_back() {
    Function* keep = find();
    if (keep != nullptr && !holds_stand_in(*keep, cell)) keep = nullptr;
    std::size_t in_places = keep != nullptr ? 1 : 0;
    if (in_places != cell.count) {
      in_places = 0;
      places([&](Function& place) {
        if (!holds_stand_in(place, cell)) return;
        ++in_places;
        if (keep == nullptr) keep = &place;
      });
    }
    if (keep == nullptr || in_places != cell.count) return;
    try {
      *keep = std::move(cell.handler);
      if (cell.count == 0) return;
      places([&](Function& place) {
        if (holds_stand_in(place, cell)) place = *keep;
      });
    } catch (...) {
      // A copy that failed leaves the stand-in in place, which to_heap keeps working.
    }
  }

  void to_heap() {
    auto* const moved = new HandlerCell<Function>{std::move(cell.handler)};
    moved->reentrant = cell.reentrant;
    moved->on_heap = true;
    moved->copies = std::exchange(cell.copies, nullptr);
    moved->count = std::exchange(cell.count, 0);
    for (StandIn<Function>* copy = moved->copies; copy != nullptr; copy = copy->next) {
      copy->cell = moved;
    }
  }

  const Find& find;
  const Places& places;
  HandlerCell<Function> cell;
};

// Runs the handler at the place find() returns (null for none) from that
// place, so that state the callable keeps lasts from one event to the next.
// A place that holds a stand-in runs the handler it shares. Unless
// reentrant, a handler is never re-entered: a call that reaches it while it
// runs does nothing.
template <bool reentrant = false, typename Find, typename Places, typename... Args>
void run_in_place(const Find& find, const Places& places, const Args&... args) {
  auto* const place = find();
  if (place == nullptr || !*place) return;
  using Function = std::remove_pointer_t<decltype(place)>;
  if (const auto* stand_in = place->template target<StandIn<Function>>()) {
    run_shared(*stand_in->cell, args...);
    return;
  }
  HandlerCall<Function, Find, Places> call(*place, find, places, reentrant);
  call.run(args...);
}

// The place of a hook: the member itself.
template <typename Function>
auto member(Function& hook) {
  return [&hook] { return &hook; };
}

// Every entry of the maps and every hook given: where a stand-in may go.
template <typename... Holders>
auto places_in(Holders&... holders) {
  return [&holders...](const auto& visit) {
    const auto visit_all = [&visit](auto& holder) {
      if constexpr (requires { holder.begin(); }) {
        for (auto& entry : holder) visit(entry.second);
      } else {
        visit(holder);
      }
    };
    (visit_all(holders), ...);
  };
}

}  // namespace Ombrix
