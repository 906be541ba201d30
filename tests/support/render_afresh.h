#pragma once

// A render that keeps nothing from earlier renders, for comparing with what a
// model's memo and kept records give.

#include <string>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace support {

// The tree as a render that keeps nothing from earlier renders builds it.
inline Ombrix::RenderNode render_afresh(Ombrix::OApp& app) {
  Drelm::DLayer* root = app.engine().find_layer(app.root_name);
  if (root == nullptr) return Ombrix::RenderNode{};
  Ombrix::StringMap theme_buttons;
  Ombrix::ListActionMap list_actions;
  Ombrix::ThemeCtx themes{&app.themes, nullptr};
  if (auto it = app.themes.find(app.active_theme); it != app.themes.end()) {
    themes.active = &it->second;
  }
  Ombrix::RenderNode tree =
      Ombrix::build_node(root, app.root_name, app.texts, app.media_sources, app.hrefs, app.qr_data,
                         app.heights, app.node_states, app.hidden_paths,
                         std::vector<std::string>(app.states.begin(), app.states.end()),
                         theme_buttons, nullptr, themes, app.lists, list_actions, Ombrix::RowCtx{},
                         app.mobile_size_scale, app.mobile_font_scale, app.mobile_spacing_scale);
  bool uses_viewport = false;
  Ombrix::fold_viewport_heights(tree, app.viewport_height, app.heights, uses_viewport);
  Ombrix::apply_combo_data(tree, app.combo_options, app.combo_selected);
  return tree;
}

}  // namespace support
