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
// never re-entered.
struct RunningHandler {
  template <typename... Args>
  void operator()(const Args&...) const {}
};

template <typename Function>
bool is_running(const Function& handler) {
  return handler.template target<RunningHandler>() != nullptr;
}

// Puts a handler back into its place when the call ends, by return or by
// throw, unless the place is gone or no longer holds the stand-in.
template <typename Function, typename Find>
class PutBack {
 public:
  PutBack(Function& handler, const Find& find) : handler(handler), find(find) {}
  PutBack(const PutBack&) = delete;
  PutBack& operator=(const PutBack&) = delete;
  ~PutBack() {
    Function* place = find();
    if (place != nullptr && is_running(*place)) *place = std::move(handler);
  }

 private:
  Function& handler;
  const Find& find;
};

// Runs the handler at the place find() returns (null for none) from that
// place, so that state the callable keeps lasts from one event to the next.
// It is moved out for the call, so it may erase or replace its own entry
// without pulling the callee out from under itself.
template <typename Find, typename... Args>
void run_in_place(const Find& find, const Args&... args) {
  auto* const place = find();
  if (place == nullptr || !*place || is_running(*place)) return;
  using Function = std::remove_pointer_t<decltype(place)>;
  Function stand_in = RunningHandler{};
  Function handler = std::move(*place);
  *place = std::move(stand_in);
  const PutBack<Function, Find> put_back(handler, find);
  handler(args...);
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

}  // namespace

void OApp::dispatch(const std::string& path, const std::string& event) {
  std::string value;
  if (take_value(event, "input:", value)) {
    input_values.insert_or_assign(path, value);
    run_in_place(entry_of(input_handlers, path), value);
    return;
  }
  if (take_value(event, "scan:", value)) {
    run_in_place(entry_of(scan_handlers, path), value);
    return;
  }
  if (take_value(event, "scanstatus:", value)) {
    run_in_place(member(on_scan_status), path, value);
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
    run_in_place(entry_of(select_handlers, path), value);
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
    // A registered but empty handler swallows the action on purpose.
    if (action_handlers.contains(action.action)) {
      run_in_place(entry_of(action_handlers, action.action), action.action, action.arg,
                   action.data);
      return;
    }
    run_in_place(member(default_action_handler), action.action, action.arg, action.data);
    return;
  }
  if (checkbox_paths.contains(path)) toggle_state(path, "Checked");
  run_in_place(entry_of(click_handlers, path));
}

}  // namespace Ombrix
