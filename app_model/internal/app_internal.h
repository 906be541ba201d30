#pragma once

// Pieces of OApp's work shared between its source files; not part of the public interface.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
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
std::vector<Drelm::DLayer*> widget_children(Drelm::DLayer* layer);
// The same; also sets border to its first child layer named "Border" (null when
// none), so one walk over the children serves both.
std::vector<Drelm::DLayer*> widget_children_and_border(Drelm::DLayer* layer,
                                                       Drelm::DLayer*& border);
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

}  // namespace Ombrix
