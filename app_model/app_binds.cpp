#include "app_model/internal/app_internal.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "theme_language/layer.h"

namespace Ombrix {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Calls visit with every trimmed, non-empty ";"-separated token of binds, in order;
// the views point into binds.
template <typename Visit>
void for_each_bind(std::string_view binds, Visit visit) {
  std::size_t position = 0;
  while (true) {
    const std::size_t separator = binds.find(';', position);
    const std::size_t end = separator == std::string_view::npos ? binds.size() : separator;
    std::size_t first = position;
    std::size_t last = end;
    while (first < last && is_blank(binds[first])) ++first;
    while (last > first && is_blank(binds[last - 1])) --last;
    if (first < last) visit(binds.substr(first, last - first));
    if (separator == std::string_view::npos) return;
    position = separator + 1;
  }
}

// A row field that counts as on: present, non-empty, neither "0" nor "false".
bool is_set(const std::string* value) {
  return value != nullptr && !value->empty() && *value != "0" && *value != "false";
}

const std::string* row_field(const RowCtx& row, std::string_view key) {
  if (row.fields == nullptr) return nullptr;
  auto it = row.fields->find(key);
  return it == row.fields->end() ? nullptr : &it->second;
}

// The standard string-to-double conversion (leading blanks skipped, the longest valid
// prefix used); false for text that does not convert or lies out of range.
bool to_number(const std::string& text, double& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(begin, &end);
  if (end == begin || errno == ERANGE) return false;
  out = value;
  return true;
}

void apply_field(RenderNode& node, const std::string* value) {
  switch (node.type) {
    case NodeType::image:
    case NodeType::video:
      if (value != nullptr) {
        node.style.mediaSource = *value;
        node.style.visible = !value->empty();
      } else {
        node.style.mediaSource.clear();
        node.style.visible = false;
      }
      break;
    case NodeType::icon:
      if (value != nullptr && !value->empty()) node.style.iconSource = *value;
      break;
    default:
      if (value != nullptr) {
        node.text = *value;
      } else {
        node.style.visible = false;
      }
      break;
  }
}

// Applies a numeric row field when it converts and passes accept.
template <typename Accept>
void apply_number(const std::string* value, double& field, Accept accept) {
  double number = 0;
  if (value != nullptr && !value->empty() && to_number(*value, number) && accept(number)) {
    field = number;
  }
}

void apply_bind(RenderNode& node, std::string_view token, const OTheme* row_theme,
                const ThemeCtx& theme_ctx, const RowCtx& row) {
  const bool in_row = row.fields != nullptr;
  const auto key_after = [token](std::string_view prefix, std::string_view& key) {
    if (!token.starts_with(prefix)) return false;
    key = token.substr(prefix.size());
    return true;
  };
  std::string_view key;
  if (token == "ActiveThemeName") {
    if (theme_ctx.active != nullptr) node.text = theme_ctx.active->name;
  } else if (token == "ActiveThemePublisher") {
    if (theme_ctx.active != nullptr) node.text = theme_ctx.active->publisher;
  } else if (token == "ThemeName") {
    if (row_theme != nullptr) node.text = row_theme->name;
  } else if (token == "ThemePublisher") {
    if (row_theme != nullptr) node.text = row_theme->publisher;
  } else if (key_after("Field:", key)) {
    apply_field(node, row_field(row, key));
  } else if (!in_row) {
    // The remaining tokens read row fields only.
  } else if (key_after("Href:", key)) {
    const std::string* value = row_field(row, key);
    if (value != nullptr && !value->empty()) node.style.href = *value;
  } else if (key_after("MaxWidth:", key)) {
    apply_number(row_field(row, key), node.style.maxWidth, [](double n) { return n > 0; });
  } else if (key_after("Aspect:", key)) {
    apply_number(row_field(row, key), node.style.aspectRatio, [](double n) { return n > 0; });
  } else if (key_after("Indent:", key)) {
    apply_number(row_field(row, key), node.style.marginL, [](double n) { return n > 0; });
  } else if (key_after("Grow:", key)) {
    apply_number(row_field(row, key), node.style.grow, [](double n) { return n >= 0; });
  } else if (key_after("Placeholder:", key)) {
    const std::string* value = row_field(row, key);
    if (value != nullptr && !value->empty()) node.style.placeholder = *value;
  } else if (key_after("Opacity:", key)) {
    node.style.opacity = is_set(row_field(row, key)) ? 1.0 : 0.0;
  }
}

}  // namespace

std::vector<std::string> split_binds(const std::string& binds) {
  std::vector<std::string> tokens;
  for_each_bind(binds, [&tokens](std::string_view token) { tokens.emplace_back(token); });
  return tokens;
}

bool apply_state_binds(std::string_view binds, const RowCtx& row,
                       std::vector<std::string>& states) {
  if (row.fields == nullptr) return false;
  bool added = false;
  for_each_bind(binds, [&](std::string_view token) {
    if (!token.starts_with("State:")) return;
    const std::string_view rest = token.substr(6);
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return;
    if (!is_set(row_field(row, rest.substr(colon + 1)))) return;
    states.emplace_back(rest.substr(0, colon));
    added = true;
  });
  return added;
}

void apply_binds(RenderNode& node, const OTheme* row_theme, const ThemeCtx& theme_ctx,
                 const RowCtx& row) {
  // Tokens are views into the binds text, which no bind changes.
  for_each_bind(node.style.binds, [&](std::string_view token) {
    apply_bind(node, token, row_theme, theme_ctx, row);
  });
}

void register_list_intent(const RenderNode& node, const RowCtx& row, ListActionMap& list_actions) {
  const std::string_view intent = node.style.intent;
  if (!intent.starts_with("list:")) return;
  const std::string_view rest = intent.substr(5);
  ListAction action;
  if (!row.list.empty()) {
    action.action = row.list;
    action.arg = row.id;
    action.data = rest;
  } else {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return;
    action.action = rest.substr(colon + 1);
    action.data = rest.substr(0, colon);
  }
  list_actions.insert_or_assign(node.path, std::move(action));
}

void build_data_list(const std::vector<Drelm::DLayer*>& templates, const std::string& path,
                     RenderNode& node, const std::vector<std::string>& states,
                     const RenderContext& context) {
  // The whole rest is the name: a "List:" bind is the node's only bind.
  const std::string_view list_name = std::string_view(node.style.binds).substr(5);
  if (templates.empty()) return;
  auto list = context.lists.find(list_name);
  if (list == context.lists.end() || list->second.empty()) return;

  Drelm::DLayer* row_template = templates[0];
  Drelm::DLayer* separator_template = templates.size() > 1 ? templates[1] : nullptr;
  const std::vector<ListEntry>& entries = list->second;
  const std::size_t count = entries.size();
  node.children.reserve(separator_template != nullptr ? 2 * count - 1 : count);
  const RowCtx no_row;
  // One context and one path buffer for all rows: only the row's own parts change.
  RowCtx row_ctx;
  row_ctx.list = list_name;
  std::string child_path;
  for (std::size_t i = 0; i < count; ++i) {
    const ListEntry& entry = entries[i];
    std::vector<std::string> row_states;
    row_states.reserve(states.size() + 2);
    row_states.assign(states.begin(), states.end());
    if (i == 0) row_states.emplace_back("First");
    if (i + 1 == count) row_states.emplace_back("Last");

    row_ctx.fields = &entry.fields;
    row_ctx.id = entry.id;
    child_path.assign(path).append(1, '/').append(entry.id);
    RenderNode& row = node.children.emplace_back();
    build_node_into(row, row_template, child_path, row_states, nullptr, row_ctx, context);
    row.name = entry.id;

    if (i + 1 == count || separator_template == nullptr) continue;
    child_path.append(":sep");
    RenderNode& separator = node.children.emplace_back();
    build_node_into(separator, separator_template, child_path, states, nullptr, no_row, context);
    separator.name.assign(entry.id).append(":sep");
    if (!separator.style.visible) node.children.pop_back();
  }
}

void generate_theme_buttons(Drelm::DLayer* layer, const std::string& path, RenderNode& node,
                            const StringMap& texts, const StringMap& media_sources,
                            const StringMap& hrefs, const StringMap& qr_data,
                            const DoubleMap& heights, const NodeStatesMap& node_states,
                            const StringSet& hidden_paths, const std::vector<std::string>& states,
                            StringMap& theme_buttons, const ThemeCtx& theme_ctx,
                            const ListMap& lists, ListActionMap& list_actions, double size_scale,
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
  generate_theme_buttons_from(widget_children(layer, &context.chains), path, node, states, context);
}

void generate_theme_buttons_from(const std::vector<Drelm::DLayer*>& templates,
                                 const std::string& path, RenderNode& node,
                                 const std::vector<std::string>& states,
                                 const RenderContext& context) {
  const ThemeCtx& theme_ctx = context.theme_ctx;
  if (templates.empty() || theme_ctx.themes == nullptr) return;
  Drelm::DLayer* button_template = templates[0];
  const std::string active_id =
      theme_ctx.active != nullptr ? theme_ctx.active->display_id() : std::string();
  const RowCtx no_row;

  node.children.reserve(theme_ctx.themes->size());
  for (const auto& [id, theme] : *theme_ctx.themes) {
    std::string button_path = path + "/" + id;
    RenderNode& button = node.children.emplace_back();
    build_node_into(button, button_template, button_path, states, &theme, no_row, context);
    button.name = id;
    button.style.fill = theme.color("Primary");
    button.style.borderIsGradient = false;
    if (id == active_id) {
      button.style.borderFill = theme.color("Foreground");
      button.style.borderThickness = 3.0;
    } else {
      button.style.borderFill = theme.color("Tertiary");
      button.style.borderThickness = 1.0;
    }
    paint_theme_text(button, theme.color("Foreground"));
    context.theme_buttons.insert_or_assign(std::move(button_path), id);
  }
}

void paint_theme_text(RenderNode& node, const std::string& color) {
  if (node.type == NodeType::text || node.type == NodeType::icon) node.style.textColor = color;
  for (RenderNode& child : node.children) paint_theme_text(child, color);
}

}  // namespace Ombrix
