#include "app_model/app.h"

#include <algorithm>
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

// Holds a handler's place while the handler runs. Afterwards it tells an
// untouched place from one the handler cleared or replaced; meanwhile an event
// that reaches the same place finds it set and does nothing, so a handler is
// never re-entered. `call` tells the stand-ins of nested calls apart; it is
// only compared, never followed.
struct RunningHandler {
  const void* call;
  template <typename... Args>
  void operator()(const Args&...) const {}
};

template <typename Function>
bool is_running(const Function& handler) {
  return handler.template target<RunningHandler>() != nullptr;
}

template <typename Function>
bool holds_call(const Function& handler, const void* call) {
  const auto* stand_in = handler.template target<RunningHandler>();
  return stand_in != nullptr && stand_in->call == call;
}

// Gives the handler back to every place that holds the stand-in of this call:
// the handler may have moved or copied its own entry, which moved or copied
// the stand-in. Its own place, else the first other one, gets the handler
// itself; the others get copies of it as the call left it. A place the
// handler cleared or replaced keeps what it holds.
template <typename Function, typename Find, typename Places>
void put_back(Function& handler, const void* call, const Find& find, const Places& places) {
  Function* keep = find();
  if (keep != nullptr && !holds_call(*keep, call)) keep = nullptr;
  if (keep == nullptr) {
    places([&](Function& place) {
      if (keep == nullptr && holds_call(place, call)) keep = &place;
    });
  }
  if (keep == nullptr) return;
  *keep = std::move(handler);
  places([&](Function& place) {
    if (holds_call(place, call)) place = *keep;
  });
}

// Runs the handler at the place find() returns (null for none) from that
// place, so that state the callable keeps lasts from one event to the next.
// It is moved out for the call, so it may erase or replace its own entry
// without pulling the callee out from under itself. `places` visits every
// place that may receive the stand-in from the handler's own.
template <typename Find, typename Places, typename... Args>
void run_in_place(const Find& find, const Places& places, const Args&... args) {
  auto* const place = find();
  if (place == nullptr || !*place || is_running(*place)) return;
  using Function = std::remove_pointer_t<decltype(place)>;
  Function handler = std::move(*place);
  const void* const call = &handler;
  *place = RunningHandler{call};
  try {
    handler(args...);
  } catch (...) {
    put_back(handler, call, find, places);
    throw;
  }
  put_back(handler, call, find, places);
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
