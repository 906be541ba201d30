#include "app_model/app.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>

namespace Ombrix {

namespace {

// The value after prefix when event begins with it.
bool take_value(std::string_view event, std::string_view prefix, std::string& value) {
  if (!event.starts_with(prefix)) return false;
  value.assign(event.substr(prefix.size()));
  return true;
}

template <typename Function>
struct StandIn;

// The real handler while it runs from its place, and afterwards for as long
// as copies of its stand-in live where the program kept them. It lives in
// run_in_place's frame during the call and moves to the heap only when such
// copies outlast it; the last copy to go frees it.
template <typename Function>
struct HandlerCell {
  Function handler;
  // Every live stand-in of this cell, linked through the stand-ins themselves.
  StandIn<Function>* copies = nullptr;
  std::size_t count = 0;
  bool running = false;
  bool on_heap = false;
};

// Holds a handler's place while the handler runs. Every copy of it, in a map
// or wherever the program keeps it, shares the one real handler with its
// state: called while the handler runs it does nothing, so a handler is
// never re-entered; called afterwards it runs the handler. Each copy links
// itself into its cell's list, so that the cell can tell copies outside the
// maps from those in them, and move them all to the heap at once.
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

// Runs the handler of an idle cell; a running one is not re-entered.
template <typename Function, typename... Args>
void run_shared(HandlerCell<Function>& cell, const Args&... args) {
  if (cell.running || !cell.handler) return;
  // Keeps the cell alive while the handler drops the copies it knows of.
  const StandIn<Function> hold(&cell);
  struct Done {
    HandlerCell<Function>& cell;
    ~Done() { cell.running = false; }
  } const done{cell};
  cell.running = true;
  cell.handler(args...);
}

template <typename Function>
template <typename... Args>
void StandIn<Function>::operator()(const Args&... args) const {
  run_shared(*cell, args...);
}

template <typename Function>
bool holds(const Function& place, const HandlerCell<Function>& cell) {
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
  HandlerCall(Function& place, const Find& find, const Places& places)
      : find(find), places(places) {
    // Made before the handler leaves its place: a failure keeps it there.
    Function stand_in = StandIn<Function>(&cell);
    cell.handler = std::move(place);
    place = std::move(stand_in);
    cell.running = true;
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
    if (keep != nullptr && !holds(*keep, cell)) keep = nullptr;
    std::size_t in_places = keep != nullptr ? 1 : 0;
    if (in_places != cell.count) {
      in_places = 0;
      places([&](Function& place) {
        if (!holds(place, cell)) return;
        ++in_places;
        if (keep == nullptr) keep = &place;
      });
    }
    if (keep == nullptr || in_places != cell.count) return;
    try {
      *keep = std::move(cell.handler);
      if (cell.count == 0) return;
      places([&](Function& place) {
        if (holds(place, cell)) place = *keep;
      });
    } catch (...) {
      // A copy that failed leaves the stand-in in place, which to_heap keeps working.
    }
  }

  void to_heap() {
    auto* const moved = new HandlerCell<Function>{std::move(cell.handler)};
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
// It is moved out for the call, so it may erase or replace its own entry
// without pulling the callee out from under itself. A place that holds a
// stand-in the program kept and put back runs the handler it shares.
template <typename Find, typename Places, typename... Args>
void run_in_place(const Find& find, const Places& places, const Args&... args) {
  auto* const place = find();
  if (place == nullptr || !*place) return;
  using Function = std::remove_pointer_t<decltype(place)>;
  if (const auto* stand_in = place->template target<StandIn<Function>>()) {
    run_shared(*stand_in->cell, args...);
    return;
  }
  HandlerCall<Function, Find, Places> call(*place, find, places);
  call.run(args...);
}

// Finds the entry of key again at each call: a handler may erase it, and key
// is copied because it may be the key of that entry.
template <typename Map>
auto entry_of(Map& handlers, std::string_view key) {
  return [&handlers, key = std::string(key)]() -> typename Map::mapped_type* {
    const auto it = handlers.find(key);
    return it == handlers.end() ? nullptr : &it->second;
  };
}

template <typename Function>
auto member(Function& hook) {
  return [&hook] { return &hook; };
}

// Every entry of the maps and every hook given, for put_back.
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

}  // namespace

void OApp::dispatch(const std::string& path, const std::string& event) {
  // The three maps share one handler type, so a stand-in may go from one to another.
  const auto text_handlers = [this] {
    return places_in(input_handlers, scan_handlers, select_handlers);
  };
  std::string value;
  if (take_value(event, "input:", value)) {
    input_values.insert_or_assign(path, value);
    run_in_place(entry_of(input_handlers, path), text_handlers(), value);
    return;
  }
  if (take_value(event, "scan:", value)) {
    run_in_place(entry_of(scan_handlers, path), text_handlers(), value);
    return;
  }
  if (take_value(event, "scanstatus:", value)) {
    run_in_place(member(on_scan_status), places_in(on_scan_status), path, value);
    return;
  }
  if (take_value(event, "select:", value)) {
    const auto options = combo_options.find(path);
    if (options == combo_options.end()) return;
    const bool known = std::any_of(options->second.begin(), options->second.end(),
                                   [&](const ComboOption& option) { return option.id == value; });
    if (!known) return;
    auto selected = combo_selected.find(path);
    if (selected == combo_selected.end()) selected = combo_selected.emplace(path, "").first;
    if (selected->second == value) return;
    selected->second = value;
    run_in_place(entry_of(select_handlers, path), text_handlers(), value);
    return;
  }
  if (event != "click") return;

  if (const auto button = theme_buttons.find(path); button != theme_buttons.end()) {
    const std::string theme_id = button->second;
    set_active_theme(theme_id);
    return;
  }
  if (const auto list = list_actions.find(path); list != list_actions.end()) {
    const ListAction action = list->second;
    const auto action_places = places_in(action_handlers, default_action_handler);
    // A registered but empty handler swallows the action on purpose.
    if (action_handlers.contains(action.action)) {
      run_in_place(entry_of(action_handlers, action.action), action_places, action.action,
                   action.arg, action.data);
      return;
    }
    run_in_place(member(default_action_handler), action_places, action.action, action.arg,
                 action.data);
    return;
  }
  if (checkbox_paths.contains(path)) toggle_state(path, "Checked");
  run_in_place(entry_of(click_handlers, path), places_in(click_handlers));
}

}  // namespace Ombrix
