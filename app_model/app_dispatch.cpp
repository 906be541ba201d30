#include "app_model/app.h"

#include <algorithm>
#include <string_view>

namespace Ombrix {

namespace {

// The value after prefix when event begins with it.
bool take_value(std::string_view event, std::string_view prefix, std::string& value) {
  if (!event.starts_with(prefix)) return false;
  value.assign(event.substr(prefix.size()));
  return true;
}

// Handlers run from copies so that one may drop its own entry, or trigger a
// render that refills the maps, without pulling the callee out from under
// itself.
void run_text_handler(const TextHandlers& handlers, const std::string& path,
                      const std::string& value) {
  const auto it = handlers.find(path);
  if (it == handlers.end() || !it->second) return;
  const auto handler = it->second;
  handler(value);
}

}  // namespace

void OApp::dispatch(const std::string& path, const std::string& event) {
  std::string value;
  if (take_value(event, "input:", value)) {
    input_values.insert_or_assign(path, value);
    run_text_handler(input_handlers, path, value);
    return;
  }
  if (take_value(event, "scan:", value)) {
    run_text_handler(scan_handlers, path, value);
    return;
  }
  if (take_value(event, "scanstatus:", value)) {
    if (on_scan_status) {
      const auto handler = on_scan_status;
      handler(path, value);
    }
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
    run_text_handler(select_handlers, path, value);
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
    if (const auto named = action_handlers.find(action.action); named != action_handlers.end()) {
      // A registered but empty handler swallows the action on purpose.
      if (named->second) {
        const auto handler = named->second;
        handler(action.action, action.arg, action.data);
      }
      return;
    }
    if (default_action_handler) {
      const auto handler = default_action_handler;
      handler(action.action, action.arg, action.data);
    }
    return;
  }
  if (checkbox_paths.contains(path)) toggle_state(path, "Checked");
  if (const auto click = click_handlers.find(path);
      click != click_handlers.end() && click->second) {
    const auto handler = click->second;
    handler();
  }
}

}  // namespace Ombrix
