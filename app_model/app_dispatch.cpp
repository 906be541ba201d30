#include "app_model/app.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "app_model/internal/app_internal.h"

namespace Ombrix {

namespace {

// The value after prefix when event begins with it.
bool take_value(std::string_view event, std::string_view prefix, std::string& value) {
  if (!event.starts_with(prefix)) return false;
  value.assign(event.substr(prefix.size()));
  return true;
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
