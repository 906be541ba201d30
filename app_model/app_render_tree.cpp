#include "app_model/internal/app_internal.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/style_internal.h"
#include "app_model/internal/style_memo.h"
#include "app_model/style.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"
#include "theme_language/object.h"

namespace Ombrix {

namespace {

// Widget names that fix a node's kind, in the order they are tried at each step of
// the base chain.
constexpr std::array<std::pair<std::string_view, NodeType>, 14> kKindNames = {{
    {"Button", NodeType::button},
    {"Icon", NodeType::icon},
    {"Text", NodeType::text},
    {"Editor", NodeType::editor},
    {"Image", NodeType::image},
    {"Video", NodeType::video},
    {"Markdown", NodeType::markdown},
    {"QR", NodeType::qr},
    {"Scanner", NodeType::scanner},
    {"Check Box", NodeType::checkbox},
    {"Combo Box", NodeType::combobox},
    {"Link", NodeType::link},
    {"Host", NodeType::host},
    {"Box", NodeType::box},
}};

// Links of a chain walked plainly before the walk keeps its answers: most
// chains are a few links, and their renders allocate nothing for it.
constexpr std::size_t kPlainLinks = 16;

// The answer that the first link from `first` along its base chain gives
// through settle(link) (-1 while a link settles nothing), or `fallback` when
// none does. Every link walked before the one that settles shares its answer,
// as its chain goes on the same way; so, past kPlainLinks, each is kept in
// `chains` under `field`, and a later walk stops at a link already answered.
template <typename Settle>
std::int8_t chain_answer(Drelm::DLayer* first, ChainAnswers* chains,
                         std::int8_t ChainAnswers::Facts::*field, std::int8_t fallback,
                         Settle settle) {
  std::int8_t answer = fallback;
  std::size_t links = 0;
  const bool settled = Drelm::walk_base_chain(first, [&](Drelm::DLayer* link) {
    const int given = settle(link);
    if (given >= 0) answer = static_cast<std::int8_t>(given);
    return given >= 0 || (chains != nullptr && ++links == kPlainLinks);
  });
  if (!settled || links < kPlainLinks) return answer;
  std::vector<const Drelm::DLayer*>& walked = chains->walked;
  walked.clear();
  answer = fallback;
  Drelm::walk_base_chain(first, [&](Drelm::DLayer* link) {
    if (auto it = chains->by_layer.find(link);
        it != chains->by_layer.end() && it->second.*field >= 0) {
      answer = it->second.*field;
      return true;
    }
    walked.push_back(link);
    const int given = settle(link);
    if (given >= 0) answer = static_cast<std::int8_t>(given);
    return given >= 0;
  });
  for (const Drelm::DLayer* link : walked) chains->by_layer[link].*field = answer;
  return answer;
}

// Out of line: it runs only when the memo misses, and inlined into the build
// it cost the render that hits ~8 instructions a node (callgrind).
[[gnu::noinline]] NodeType kind_of(Drelm::DLayer* layer, ChainAnswers* chains) {
  const auto settle = [](Drelm::DLayer* link) {
    const std::string& name = link->object_name();
    for (const auto& [kind_name, kind_value] : kKindNames) {
      if (name == kind_name) return static_cast<int>(kind_value);
    }
    return -1;
  };
  return static_cast<NodeType>(chain_answer(layer, chains, &ChainAnswers::Facts::kind,
                                            static_cast<std::int8_t>(NodeType::box), settle));
}

}  // namespace

namespace {

// Layers derived from "Detail" hold data about their owner; they are never nodes.
bool is_detail(Drelm::DLayer* layer, ChainAnswers* chains) {
  const auto settle = [](Drelm::DLayer* link) { return link->object_name() == "Detail" ? 1 : -1; };
  return chain_answer(layer->base(), chains, &ChainAnswers::Facts::detail, 0, settle) == 1;
}

// The first child layer named "Border", or null.
Drelm::DLayer* border_of(const std::vector<Drelm::DLayer*>& child_layers) {
  for (Drelm::DLayer* child : child_layers) {
    if (child->object_name() == "Border") return child;
  }
  return nullptr;
}

// Whether the kind, the border and the widget children of `layer` follow from
// its own tree alone, whose counter the memo compares: no base chain that they
// walk may lead into another tree, whose renames and deaths it does not hear of.
// Out of line: it runs only when the memo misses, and inlined it cost the
// render that hits ~17 instructions a node (callgrind).
[[gnu::noinline]] bool facts_stay_in_tree(Drelm::DLayer* layer, ChainAnswers* chains) {
  const auto leaves = [chains](Drelm::DLayer* first) {
    const auto settle = [](Drelm::DLayer* link) {
      return link->base() != nullptr && Drelm::base_may_lie_elsewhere(*link) ? 1 : -1;
    };
    return chain_answer(first, chains, &ChainAnswers::Facts::leaves, 0, settle) == 1;
  };
  if (leaves(layer)) return false;
  for (Drelm::DLayer* child : Drelm::child_layers_of(*layer)) {
    if (leaves(child)) return false;
  }
  return true;
}

// Debug and fuzzing builds take kept facts afresh from the layer tree too: a
// memo that missed a change must fail there, not show a stale node.
void check_kept_facts([[maybe_unused]] const StyleMemo::Entry& entry,
                      [[maybe_unused]] Drelm::DLayer* layer) {
#if !defined(NDEBUG) || defined(OMBRIX_CHECK_STYLE_MEMO)
  Drelm::DLayer* border = nullptr;
  const std::vector<Drelm::DLayer*> widgets = widget_children_and_border(layer, border);
  if (kind_of(layer, nullptr) != entry.type || border != entry.border || widgets != entry.widgets) {
    std::fprintf(stderr, "style memo: kept node facts differ from the layer tree\n");
    std::abort();
  }
#endif
}

}  // namespace

void build_node_into(RenderNode& node, Drelm::DLayer* layer, const std::string& path,
                     const std::vector<std::string>& inherited_states, const OTheme* row_theme,
                     const RowCtx& row, const RenderContext& context) {
  struct Level {
    explicit Level(std::size_t& depth) : depth(depth) { ++depth; }
    ~Level() { --depth; }
    std::size_t& depth;
  } level(context.depth);
  const bool has_room_below = context.depth < kMaxRenderDepth;
  // The inherited list serves as it is unless this node adds states of its own.
  const std::vector<std::string>* states = &inherited_states;
  std::vector<std::string> own_states;
  if (auto it = context.node_states.find(path); it != context.node_states.end()) {
    own_states.reserve(inherited_states.size() + it->second.size());
    own_states.assign(inherited_states.begin(), inherited_states.end());
    own_states.insert(own_states.end(), it->second.begin(), it->second.end());
    states = &own_states;
  }

  // The kind, the border and the widget children, from the last render's
  // entry when the layer tree has not changed since. The layer tree does not
  // change while a tree is built: the cached list of child layers stays valid
  // throughout.
  StyleMemo::Entry* entry =
      context.style_memo != nullptr ? &next_memo_entry(*context.style_memo, layer) : nullptr;
  Drelm::DLayer* border = nullptr;
  if (entry != nullptr && entry->facts) {
    check_kept_facts(*entry, layer);
    node.type = entry->type;
    border = entry->border;
  } else {
    node.type = kind_of(layer, &context.chains);
    if (entry != nullptr) {
      // Made for this render in any case; kept for the next only when no
      // other tree has a say in them.
      entry->widgets = widget_children_and_border(layer, border, &context.chains);
      entry->type = node.type;
      entry->border = border;
      entry->facts = facts_stay_in_tree(layer, &context.chains);
    } else {
      border = border_of(Drelm::child_layers_of(*layer));
    }
  }
  // Details are left out of the entry's list already.
  const std::vector<Drelm::DLayer*>& child_layers =
      entry != nullptr ? entry->widgets : Drelm::child_layers_of(*layer);

  node.name = layer->object_name();
  // A child's path is written into its node by the parent, which passes it here.
  if (&node.path != &path) node.path = path;
  if (entry != nullptr) {
    resolve_style_kept(node.style, layer, *states, border, *entry);
  } else {
    resolve_style_into(node.style, layer, *states, border);
  }
  if (row.fields != nullptr) {
    if (states != &own_states) {
      own_states.assign(inherited_states.begin(), inherited_states.end());
      states = &own_states;
    }
    if (apply_state_binds(node.style.binds, row, own_states)) {
      node.style = resolve_style(layer, own_states);
    }
  }
  apply_mobile_scale(node.style, layer, *states, node.type == NodeType::icon, context.size_scale,
                     context.font_scale, context.spacing_scale);
  node.text = node.style.text;

  if (auto it = context.texts.find(path); it != context.texts.end()) node.text = it->second;
  if (node.type == NodeType::markdown && context.theme_ctx.active != nullptr) {
    node.style.codeBg = context.theme_ctx.active->color("Secondary");
  }
  if (auto it = context.media_sources.find(path); it != context.media_sources.end()) {
    node.style.mediaSource = it->second;
  }
  if (auto it = context.hrefs.find(path); it != context.hrefs.end()) node.style.href = it->second;
  if (auto it = context.qr_data.find(path); it != context.qr_data.end()) {
    node.style.qrData = it->second;
  }
  if (auto it = context.heights.find(path); it != context.heights.end()) {
    node.style.height = it->second;
  }

  const std::string_view binds = node.style.binds;
  if (binds == "ThemeList") {
    if (!has_room_below) return;
    generate_theme_buttons_from(
        entry != nullptr ? entry->widgets : widget_children(layer, &context.chains), path, node,
        *states, context);
    return;
  }
  if (binds.starts_with("List:")) {
    if (!has_room_below) return;
    build_data_list(entry != nullptr ? entry->widgets : widget_children(layer, &context.chains),
                    path, node, *states, context);
    return;
  }
  apply_binds(node, row_theme, context.theme_ctx, row);
  if (node.type == NodeType::button) register_list_intent(node, row, context.list_actions);

  if (!has_room_below) return;
  // Reserved up front, so that a child's node stays where it is while its own
  // subtree is built.
  node.children.reserve(child_layers.size());
  for (Drelm::DLayer* child : child_layers) {
    if (entry == nullptr && is_detail(child, &context.chains)) continue;
    const std::string& child_name = child->object_name();
    // Built where it will stay, its path written in place; dropped again when
    // the path is hidden or the node turns out invisible.
    RenderNode& built = node.children.emplace_back();
    built.path.reserve(path.size() + 1 + child_name.size());
    built.path.append(path).append(1, '/').append(child_name);
    if (context.hidden_paths.contains(built.path)) {
      node.children.pop_back();
      continue;
    }
    build_node_into(built, child, built.path, *states, row_theme, row, context);
    if (!built.style.visible) node.children.pop_back();
  }
}

RenderNode build_node(Drelm::DLayer* layer, const std::string& path, const StringMap& texts,
                      const StringMap& media_sources, const StringMap& hrefs,
                      const StringMap& qr_data, const DoubleMap& heights,
                      const NodeStatesMap& node_states, const StringSet& hidden_paths,
                      std::vector<std::string> states, StringMap& theme_buttons,
                      const OTheme* row_theme, const ThemeCtx& theme_ctx, const ListMap& lists,
                      ListActionMap& list_actions, const RowCtx& row, double size_scale,
                      double font_scale, double spacing_scale) {
  const RenderContext context{.texts = texts,
                              .media_sources = media_sources,
                              .hrefs = hrefs,
                              .qr_data = qr_data,
                              .heights = heights,
                              .node_states = node_states,
                              .hidden_paths = hidden_paths,
                              .lists = lists,
                              .theme_ctx = theme_ctx,
                              .theme_buttons = theme_buttons,
                              .list_actions = list_actions,
                              .size_scale = size_scale,
                              .font_scale = font_scale,
                              .spacing_scale = spacing_scale};
  RenderNode node;
  build_node_into(node, layer, path, states, row_theme, row, context);
  return node;
}

std::vector<Drelm::DLayer*> widget_children(Drelm::DLayer* layer, ChainAnswers* chains) {
  Drelm::DLayer* border = nullptr;
  return widget_children_and_border(layer, border, chains);
}

std::vector<Drelm::DLayer*> widget_children_and_border(Drelm::DLayer* layer, Drelm::DLayer*& border,
                                                       ChainAnswers* chains) {
  std::vector<Drelm::DLayer*> widgets;
  border = nullptr;
  if (layer == nullptr) return widgets;
  // The child layers in child order; attribute children are never widgets.
  const std::vector<Drelm::DLayer*>& child_layers = Drelm::child_layers_of(*layer);
  border = border_of(child_layers);
  widgets.reserve(child_layers.size());
  for (Drelm::DLayer* child : child_layers) {
    if (!is_detail(child, chains)) widgets.push_back(child);
  }
  return widgets;
}

void collect_checkbox_paths(const RenderNode& node, StringSet& paths) {
  if (node.type == NodeType::checkbox) paths.insert(node.path);
  for (const RenderNode& child : node.children) collect_checkbox_paths(child, paths);
}

void fold_viewport_heights(RenderNode& node, double viewport_height, const DoubleMap& heights,
                           bool& uses_viewport_heights) {
  if (node.style.heightViewport > 0) {
    uses_viewport_heights = true;
    // A height given through the store wins over the viewport rule.
    if (viewport_height > 0 && !heights.contains(node.path)) {
      node.style.height = std::round(viewport_height * node.style.heightViewport);
    }
  }
  for (RenderNode& child : node.children) {
    fold_viewport_heights(child, viewport_height, heights, uses_viewport_heights);
  }
}

void apply_combo_data(RenderNode& node, const ComboOptionsMap& combo_options,
                      const StringMap& combo_selected) {
  if (node.type == NodeType::combobox) {
    if (auto it = combo_options.find(node.path); it != combo_options.end()) {
      node.comboOptions = it->second;
    }
    if (auto it = combo_selected.find(node.path); it != combo_selected.end()) {
      node.comboSelected = it->second;
    }
  }
  for (RenderNode& child : node.children) apply_combo_data(child, combo_options, combo_selected);
}

RenderNode OApp::build_render_tree() const {
  Drelm::DLayer* root = theme_engine.find_layer(root_name);
  if (root == nullptr) return RenderNode{};

  std::vector<std::string> state_list(states.begin(), states.end());
  if (!style_memo) style_memo = std::make_shared<StyleMemo>();
  theme_buttons.clear();
  list_actions.clear();
  ThemeCtx theme_ctx;
  theme_ctx.themes = &themes;
  if (auto it = themes.find(active_theme); it != themes.end()) theme_ctx.active = &it->second;
  const RenderContext context{.texts = texts,
                              .media_sources = media_sources,
                              .hrefs = hrefs,
                              .qr_data = qr_data,
                              .heights = heights,
                              .node_states = node_states,
                              .hidden_paths = hidden_paths,
                              .lists = lists,
                              .theme_ctx = theme_ctx,
                              .theme_buttons = theme_buttons,
                              .list_actions = list_actions,
                              .size_scale = mobile_size_scale,
                              .font_scale = mobile_font_scale,
                              .spacing_scale = mobile_spacing_scale,
                              .style_memo = style_memo.get()};

  RenderNode tree;
  begin_style_memo(*style_memo, *root);
  build_node_into(tree, root, root_name, state_list, nullptr, RowCtx{}, context);
  end_style_memo(*style_memo);

  checkbox_paths.clear();
  collect_checkbox_paths(tree, checkbox_paths);
  uses_viewport_heights = false;
  fold_viewport_heights(tree, viewport_height, heights, uses_viewport_heights);
  apply_combo_data(tree, combo_options, combo_selected);
  return tree;
}

}  // namespace Ombrix
