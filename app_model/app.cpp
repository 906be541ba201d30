#include "app_model/app.h"

#include <cmath>

namespace Ombrix {

namespace {

constexpr double kNarrowMaxWidth = 600.0;
constexpr double kMediumMaxWidth = 900.0;
// Scroll distance, summed while narrow, past which the controls hide or show.
constexpr double kScrollThreshold = 30.0;

// Adds or removes one global state; true when membership changed.
bool set_state(StringSet& states, const char* name, bool on) {
  if (on) return states.insert(name).second;
  return states.erase(name) > 0;
}

}  // namespace

bool OApp::set_viewport_width(double width) {
  const bool narrow = width <= kNarrowMaxWidth;
  const bool medium = !narrow && width <= kMediumMaxWidth;
  if (narrow == states.contains("Narrow") && medium == states.contains("Medium")) return false;
  if (narrow) {
    states.insert("Narrow");
    states.erase("Medium");
  } else {
    states.erase("Narrow");
    // Hidden controls belong to the narrow layout only.
    states.erase("ControlsHidden");
    scroll_accumulator = 0.0;
    set_state(states, "Medium", medium);
  }
  return true;
}

bool OApp::set_viewport_height(double height) {
  const double rounded = std::round(height);
  if (rounded == viewport_height) return false;
  viewport_height = rounded;
  return uses_viewport_heights;
}

bool OApp::on_scroll(double delta) {
  if (!states.contains("Narrow")) return false;
  // Not a distance: it would leave the sum NaN or infinite for good.
  if (!std::isfinite(delta)) return false;
  const double sum = scroll_accumulator + delta;
  if (sum > kScrollThreshold) {
    scroll_accumulator = 0.0;
    return set_controls_hidden(true);
  }
  if (sum < -kScrollThreshold) {
    scroll_accumulator = 0.0;
    return set_controls_hidden(false);
  }
  scroll_accumulator = sum;
  return false;
}

bool OApp::set_controls_hidden(bool hidden) { return set_state(states, "ControlsHidden", hidden); }

bool OApp::set_maximized(bool maximized) { return set_state(states, "Maximized", maximized); }

void OApp::toggle_state(const std::string& path, const std::string& state) {
  auto it = node_states.find(path);
  if (it == node_states.end()) it = node_states.emplace(path, StringSet{}).first;
  // The set stays even when empty: the path keeps its entry.
  if (it->second.erase(state) == 0) it->second.insert(state);
}

}  // namespace Ombrix
