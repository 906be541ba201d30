#include "benchmarks/generator.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <variant>

#include <unistd.h>

#include <nlohmann/json.hpp>

namespace bench {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

struct Reference {
  std::string path;
};
struct Colour {
  std::string hex;  // without "#"
};
using Value = std::variant<double, std::string, Colour, Reference>;

struct StateValue {
  std::vector<std::string> conditions;
  Value value;
};

struct Attr {
  std::string group;
  std::string name;
  Value value;
  std::vector<StateValue> states;
  bool indented_states = false;  // one "@State: value" line each below the attribute
};

struct StateSet {
  std::vector<std::string> conditions;
  std::vector<Attr> attrs;
};

struct Layer {
  std::string name;
  std::string base;
  std::vector<Attr> attrs;
  std::vector<StateSet> state_sets;
  std::vector<Layer> children;
};

std::string drl_value(const Value& value) {
  if (const auto* number = std::get_if<double>(&value)) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", *number);
    return buffer;
  }
  if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
  if (const auto* colour = std::get_if<Colour>(&value)) return "#" + colour->hex;
  return std::get<Reference>(value).path;
}

Json json_value(const Value& value) {
  if (const auto* number = std::get_if<double>(&value)) return *number;
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* colour = std::get_if<Colour>(&value)) return "#" + colour->hex;
  return Json{{"link", std::get<Reference>(value).path}};
}

std::string attr_name(const Attr& attr) {
  return attr.group.empty() ? attr.name : attr.group + "." + attr.name;
}

std::string joined(const std::vector<std::string>& conditions, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < conditions.size(); ++i)
    out += (i == 0 ? "" : separator) + conditions[i];
  return out;
}

void emit_states(const Attr& attr, const std::string& indent, std::string& out) {
  if (attr.indented_states) {
    out += "\n";
    for (const auto& state : attr.states) {
      out +=
          indent + "    @" + joined(state.conditions, " & ") + ": " + drl_value(state.value) + "\n";
    }
    return;
  }
  for (const auto& state : attr.states) {
    out += " @" + joined(state.conditions, " & ") + ": " + drl_value(state.value);
  }
  out += "\n";
}

void emit_attrs(const std::vector<Attr>& attrs, const std::string& indent, std::string& out) {
  // Two or more consecutive attributes of one group become a group-set.
  for (std::size_t i = 0; i < attrs.size();) {
    const Attr& first = attrs[i];
    std::size_t end = i + 1;
    while (!first.group.empty() && end < attrs.size() && attrs[end].group == first.group) ++end;
    if (end - i < 2) {
      out += indent + attr_name(first) + ": " + drl_value(first.value);
      emit_states(first, indent, out);
      ++i;
      continue;
    }
    out += indent + first.group + ".\n";
    for (; i < end; ++i) {
      out += indent + "    " + attrs[i].name + ": " + drl_value(attrs[i].value);
      emit_states(attrs[i], indent + "    ", out);
    }
  }
}

void emit_layer(const Layer& layer, const std::string& indent, std::string& out) {
  out += indent + layer.name;
  if (!layer.base.empty()) out += " << " + layer.base;
  if (layer.attrs.empty() && layer.state_sets.empty() && layer.children.empty()) {
    out += "\n";
    return;
  }
  out += ":\n";
  const std::string inner = indent + "    ";
  emit_attrs(layer.attrs, inner, out);
  for (const auto& set : layer.state_sets) {
    out += inner + "@" + joined(set.conditions, " & ") + ":\n";
    emit_attrs(set.attrs, inner + "    ", out);
  }
  for (const auto& child : layer.children) emit_layer(child, inner, out);
}

Json layer_json(const Layer& layer) {
  Json object = Json::object();
  if (!layer.base.empty()) object["<<"] = layer.base;
  for (const auto& attr : layer.attrs) {
    object[attr_name(attr)] = json_value(attr.value);
    for (const auto& state : attr.states) {
      object[attr_name(attr) + "@" + joined(state.conditions, "&")] = json_value(state.value);
    }
  }
  for (const auto& set : layer.state_sets) {
    Json block = Json::object();
    for (const auto& attr : set.attrs) block[attr_name(attr)] = json_value(attr.value);
    std::string key = "@";
    key += joined(set.conditions, "&");
    object[key] = std::move(block);
  }
  for (const auto& child : layer.children) object[child.name] = layer_json(child);
  return object;
}

Reference theme(const char* key) { return Reference{std::string("Theme/") + key}; }

StateValue when(std::string condition, Value value) {
  return {{std::move(condition)}, std::move(value)};
}
StateValue when(std::string a, std::string b, Value value) {
  return {{std::move(a), std::move(b)}, std::move(value)};
}

// Sets the value, and the states when given, of an attribute of the list.
Attr& find(std::vector<Attr>& attrs, const std::string& name) {
  for (auto& attr : attrs) {
    if (attr_name(attr) == name) return attr;
  }
  throw std::logic_error("generator: no attribute " + name);
}

enum class Kind { kBox, kButton, kText, kIcon };

// The forty-odd attributes that every kind root sets, with the kind's values.
std::vector<Attr> kind_root_attrs(Kind kind) {
  const bool button = kind == Kind::kButton;
  const bool text = kind == Kind::kText;
  const double radius = button ? 6 : kind == Kind::kBox ? 4 : 0;
  const double padding = button ? 12 : kind == Kind::kBox ? 8 : 0;
  Value fill = kind == Kind::kBox ? Value(theme("Secondary"))
               : button           ? Value(theme("Primary"))
                                  : Value(Colour{"00000000"});
  std::vector<Attr> attrs = {
      {"", "Fill", fill, {}},
      {"", "Text Color", theme("Foreground"), {}},
      {"Corner Radii", "Top Left", radius, {}},
      {"Corner Radii", "Top Right", radius, {}},
      {"Corner Radii", "Bottom Left", radius, {}},
      {"Corner Radii", "Bottom Right", radius, {}},
      {"Margins", "Left", 0.0, {}},
      {"Margins", "Top", 0.0, {}},
      {"Margins", "Right", 0.0, {}},
      {"Margins", "Bottom", 0.0, {}},
      {"Padding", "Left", padding, {}},
      {"Padding", "Top", padding / 2, {}},
      {"Padding", "Right", padding, {}},
      {"Padding", "Bottom", padding / 2, {}},
      {"Font", "Family", std::string("Inter"), {}},
      {"Font", "Size", text ? 14.0 : 13.0, {}},
      {"Font", "Weight", button ? 500.0 : 400.0, {}},
      {"Layout", "Direction", std::string(kind == Kind::kBox ? "column" : "row"), {}},
      {"Layout", "Align", std::string("center"), {}},
      {"Layout", "Justify", std::string("start"), {}},
      {"Layout", "Scroll", std::string("none"), {}},
      {"Layout", "Spacing", button ? 6.0 : 4.0, {}},
      {"Layout", "Grow", 0.0, {}},
      {"Layout", "Shrink", 1.0, {}},
      {"Size", "Width", kind == Kind::kIcon ? 24.0 : 0.0, {}},
      {"Size",
       "Height",
       kind == Kind::kIcon ? 24.0
       : button            ? 32.0
                           : 0.0,
       {}},
      {"Size", "Max Width", 0.0, {}},
      {"", "Aspect Ratio", 0.0, {}},
      {"", "Opacity", 1.0, {}},
      {"", "Visible", 1.0, {}},
      {"", "Collapsed", 0.0, {}},
      {"Transform", "Offset X", 0.0, {}},
      {"Transform", "Offset Y", 0.0, {}},
      {"Transform", "Rotation", 0.0, {}},
      {"", "Intent", std::string(""), {}},
      {"", "Overlay", std::string(""), {}},
      {"", "Wrap", text ? 1.0 : 0.0, {}},
      {"",
       "Tag",
       std::string(button                ? "button"
                   : text                ? "label"
                   : kind == Kind::kIcon ? "icon"
                                         : "box"),
       {}},
      {"", "Anchor", std::string(""), {}},
      {"", "Cursor", std::string(button ? "pointer" : "default"), {}},
      {"Transition", "Duration", button ? 120.0 : 0.0, {}},
      {"Outline", "Color", theme("Tertiary"), {}},
  };
  switch (kind) {
    case Kind::kButton:
      find(attrs, "Fill").states = {when("Hover", theme("Tertiary")),
                                    when("Hover", "Pressed", theme("Secondary"))};
      find(attrs, "Text Color").states = {when("Disabled", Colour{"ff8a8a8a"})};
      find(attrs, "Opacity").states = {when("Disabled", 0.5)};
      find(attrs, "Font.Size").states = {when("Mobile", 15.0)};
      find(attrs, "Size.Height").states = {when("Mobile", 44.0), when("Desktop", 30.0)};
      find(attrs, "Size.Height").indented_states = true;
      find(attrs, "Outline.Color").states = {when("Focus", theme("Primary"))};
      attrs.push_back({"", "Text", std::string(""), {}});
      break;
    case Kind::kText:
      find(attrs, "Text Color").states = {when("Disabled", Colour{"ff8a8a8a"}),
                                          when("Selected", Colour{"ffffffff"})};
      find(attrs, "Font.Size").states = {when("Mobile", 16.0), when("Desktop", 13.0)};
      find(attrs, "Font.Size").indented_states = true;
      find(attrs, "Opacity").states = {when("Disabled", 0.5)};
      find(attrs, "Layout.Spacing").states = {when("Narrow", 2.0)};
      attrs.push_back({"", "Text", std::string(""), {}});
      break;
    case Kind::kIcon:
      find(attrs, "Text Color").states = {when("Hover", theme("Primary")),
                                          when("Disabled", Colour{"ff6a6a6a"})};
      find(attrs, "Size.Width").states = {when("Mobile", 28.0)};
      find(attrs, "Size.Height").states = {when("Mobile", 28.0)};
      find(attrs, "Fill").states = {when("Hover", theme("Secondary"))};
      find(attrs, "Transform.Rotation").states = {when("Pressed", 8.0)};
      attrs.push_back({"", "Source", std::string("icons/blank.svg"), {}});
      break;
    case Kind::kBox:
      find(attrs, "Layout.Spacing").states = {when("Narrow", 2.0)};
      break;
  }
  return attrs;
}

std::vector<StateSet> kind_root_state_sets(Kind kind) {
  switch (kind) {
    case Kind::kButton:
      return {
          {{"Hover", "Pressed"}, {{"Transform", "Offset Y", 1.0, {}}}},
          {{"Selected"},
           {{"", "Fill", Colour{"ff5865f2"}, {}},
            {"Corner Radii", "Top Left", 10.0, {}},
            {"Corner Radii", "Top Right", 10.0, {}}}},
          {{"Narrow"}, {{"Padding", "Left", 6.0, {}}, {"Padding", "Right", 6.0, {}}}},
      };
    case Kind::kText:
      return {{{"Selected"}, {{"Font", "Weight", 600.0, {}}}}};
    case Kind::kIcon:
      return {{{"Disabled"}, {{"", "Opacity", 0.4, {}}}}};
    case Kind::kBox:
      return {{{"Narrow"}, {{"Padding", "Left", 4.0, {}}, {"Padding", "Right", 4.0, {}}}}};
  }
  return {};
}

// Derived from "Detail", so it styles its widget without becoming a node of its own.
Layer border_layer(Kind kind) {
  Layer border{"Border",
               "Detail",
               {{"", "Fill", theme("Tertiary"), {}}, {"", "Thickness", 1.0, {}}},
               {},
               {}};
  if (kind == Kind::kButton) {
    border.attrs[0].states = {when("Focus", theme("Primary"))};
    border.attrs[1].states = {when("Focus", 2.0)};
  }
  if (kind != Kind::kButton) border.attrs[1].value = 0.0;
  return border;
}

Layer kind_root(const char* name, Kind kind) {
  Layer layer{name, "", kind_root_attrs(kind), kind_root_state_sets(kind), {border_layer(kind)}};
  return layer;
}

std::vector<Layer> kind_roots() {
  return {kind_root("Box", Kind::kBox), kind_root("Button", Kind::kButton),
          kind_root("Text", Kind::kText), kind_root("Icon", Kind::kIcon),
          Layer{"Detail", "", {}, {}, {}}};
}

std::vector<Layer> derived_widgets() {
  std::vector<Layer> widgets;
  Layer card{"Card", "Box", {}, {}, {}};
  card.attrs = {{"Fill", "Start Color", theme("Gradient.Start Color"), {}},
                {"Fill", "End Color", theme("Gradient.End Color"), {}},
                {"Fill", "Start", theme("Gradient.Start"), {}},
                {"Fill", "End", theme("Gradient.End"), {}},
                {"Corner Radii", "Top Left", 8.0, {}},
                {"Corner Radii", "Top Right", 8.0, {}},
                {"Corner Radii", "Bottom Left", 8.0, {}},
                {"Corner Radii", "Bottom Right", 8.0, {}},
                {"Padding", "Left", 16.0, {when("Narrow", 8.0)}},
                {"Padding", "Right", 16.0, {when("Narrow", 8.0)}}};
  widgets.push_back(card);

  Layer row{"Toolbar Row", "Box", {}, {}, {}};
  row.attrs = {{"Layout", "Direction", std::string("row"), {}},
               {"Layout", "Spacing", 8.0, {}},
               {"Layout", "Align", std::string("center"), {}}};
  widgets.push_back(row);

  Layer primary{"Primary Button", "Button", {}, {}, {}};
  primary.attrs = {{"Font", "Weight", 600.0, {}}, {"", "Intent", std::string("primary"), {}}};
  widgets.push_back(primary);

  // Overrides an attribute of the inherited sub-layer: a nested merge.
  Layer flat{"Flat Button", "Button", {}, {}, {}};
  flat.attrs = {{"", "Fill", Colour{"00000000"}, {when("Hover", theme("Secondary"))}}};
  flat.children.push_back(Layer{"Border", "", {{"", "Thickness", 0.0, {}}}, {}, {}});
  widgets.push_back(flat);

  Layer caption{"Caption", "Text", {}, {}, {}};
  caption.attrs = {{"Font", "Size", 12.0, {}}, {"", "Wrap", 0.0, {}}};
  widgets.push_back(caption);

  Layer title{"Title", "Text", {}, {}, {}};
  title.attrs = {{"Font", "Size", 18.0, {}}, {"Font", "Weight", 600.0, {}}};
  widgets.push_back(title);

  Layer icon{"Toolbar Icon", "Icon", {}, {}, {}};
  icon.attrs = {{"Size", "Width", 20.0, {}}, {"Size", "Height", 20.0, {}}};
  widgets.push_back(icon);
  return widgets;
}

Layer theme_layer() {
  return Layer{"Theme",
               "",
               {{"", "Foreground", Colour{"ffe3e3e3"}, {}},
                {"Gradient", "Start", 0.0, {}},
                {"Gradient", "Start Color", Colour{"ff3a3c42"}, {}},
                {"Gradient", "End", 1.0, {}},
                {"Gradient", "End Color", Colour{"ff42454d"}, {}},
                {"", "Primary", Colour{"ff36393f"}, {}},
                {"", "Secondary", Colour{"ff2f3136"}, {}},
                {"", "Tertiary", Colour{"ff25272b"}, {}}},
               {},
               {}};
}

// Deterministic spread of per-node choices.
std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  std::uint32_t h =
      a * 0x9e3779b1u ^ (b + 0x7f4a7c15u) * 0x85ebca6bu ^ (c + 0x165667b1u) * 0xc2b2ae35u;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  return h;
}

// One to six attributes: the node's characteristic one first, then others
// drawn from a pool of what applications typically adjust.
void node_attrs(Layer& layer, Attr first, std::uint32_t h) {
  layer.attrs.push_back(std::move(first));
  // Most nodes adjust one or two things, a few adjust many.
  static const int kCounts[12] = {1, 1, 1, 1, 1, 2, 2, 2, 3, 3, 4, 6};
  const int count = kCounts[h % 12];
  static const int kPool = 9;
  for (int k = 1; k < count; ++k) {
    const int pick = int((h / 7 + std::uint32_t(k) * 5) % kPool);
    const double n = double((h >> (k + 3)) % 13);
    switch (pick) {
      case 0:
        layer.attrs.push_back({"Size", "Width", 96 + n * 4, {}});
        break;
      case 1:
        layer.attrs.push_back({"Margins", "Left", n, {}});
        break;
      case 2:
        layer.attrs.push_back({"Layout", "Grow", double(k % 2), {}});
        break;
      case 3:
        layer.attrs.push_back(
            {"", "Fill", theme("Secondary"), {when("Selected", theme("Primary"))}});
        break;
      case 4:
        layer.attrs.push_back({"", "Opacity", 0.9, {}});
        break;
      case 5:
        layer.attrs.push_back({"Font", "Weight", 500.0, {}});
        break;
      case 6:
        layer.attrs.push_back({"", "Tag", "node-" + std::to_string(h % 997), {}});
        break;
      case 7:
        layer.attrs.push_back({"Padding", "Top", n / 2, {when("Narrow", 2.0)}});
        break;
      case 8:
        layer.attrs.push_back({"", "Text Color", theme("Foreground"), {}});
        break;
    }
  }
}

std::string section_name(int s) { return "Section" + std::to_string(s); }
std::string row_name(int r) { return "Row" + std::to_string(r); }
std::string item_name(int i) { return "Item" + std::to_string(i); }

Layer section_layer(int s, const InterfaceSize& size) {
  Layer section{section_name(s), "Ombrix/Card", {}, {}, {}};
  node_attrs(section, {"Layout", "Spacing", 4.0 + s % 3, {}}, mix(s, 0, 1));
  Layer header{"Header", "Ombrix/Title", {}, {}, {}};
  node_attrs(header, {"", "Text", "Section " + std::to_string(s), {}}, mix(s, 0, 2));
  section.children.push_back(header);
  for (int r = 0; r < size.rows_per_section; ++r) {
    Layer row{row_name(r), "Ombrix/Toolbar Row", {}, {}, {}};
    node_attrs(row, {"Layout", "Spacing", 6.0 + r, {}}, mix(s, r, 3));
    for (int i = 0; i < size.items_per_row; ++i) {
      const std::uint32_t h = mix(s, r * 1000 + i, 4);
      Layer item{
          item_name(i), h % 3 == 0 ? "Ombrix/Flat Button" : "Ombrix/Primary Button", {}, {}, {}};
      const std::string id = std::to_string(s) + "." + std::to_string(r) + "." + std::to_string(i);
      node_attrs(item, {"", "Intent", "open:" + id, {}}, h);
      for (int a = 0; a < size.extra_attributes; ++a) {
        item.attrs.push_back({"Extra", "Value" + std::to_string(a), double(a), {}});
      }
      Layer icon{"Icon", "Ombrix/Toolbar Icon", {}, {}, {}};
      node_attrs(icon, {"", "Source", "icons/glyph-" + std::to_string(h % 64) + ".svg", {}},
                 mix(s, r * 1000 + i, 5));
      Layer label{"Label", "Ombrix/Caption", {}, {}, {}};
      node_attrs(label, {"", "Text", "Item " + id, {}}, mix(s, r * 1000 + i, 6));
      item.children.push_back(icon);
      item.children.push_back(label);
      row.children.push_back(item);
    }
    section.children.push_back(row);
  }
  return section;
}

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

fs::path fresh_directory(const std::string& stem) {
  static int counter = 0;
  fs::path dir = fs::temp_directory_path() /
                 (stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

const char* kThemeDusk = R"({"Dusk": {"_meta": {"publisher": "Bench"},
  "Foreground": "#ffe3e3e3", "Primary": "#ff36393f", "Secondary": "#ff2f3136",
  "Tertiary": "#ff25272b", "Gradient": ["0:#ff3a3c42", "1:#ff42454d"]}})";
const char* kThemeDawn = R"({"Dawn": {"_meta": {"publisher": "Bench"},
  "Foreground": "#ff202124", "Primary": "#fff1f3f4", "Secondary": "#ffe8eaed",
  "Tertiary": "#ffdadce0", "Gradient": ["0:#fffafafa", "1:#ffeeeeee"]}})";

void add_file(GeneratedFiles& files, const fs::path& dir, const std::string& name,
              const std::string& text) {
  write_file(dir / name, text);
  files.drl_bytes += text.size();
  files.drl_files.push_back((dir / name).string());
}

}  // namespace

InterfaceSize size_for_nodes(int nodes) {
  InterfaceSize size;
  size.sections = std::max(1, nodes / 100);
  return size;
}

GeneratedFiles write_interface(const InterfaceSize& size, int list_rows,
                               const std::string& directory) {
  fs::path dir = directory;
  if (directory.empty()) {
    dir = fresh_directory("ombrix-bench");
  } else {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  GeneratedFiles files;
  files.root = dir.string();
  Json document = Json::object();

  Json ombrix = Json::object();
  std::string roots = "// Kind roots: every widget of the interface derives from one of them.\n";
  for (const auto& layer : kind_roots()) {
    emit_layer(layer, "", roots);
    ombrix[layer.name] = layer_json(layer);
  }
  add_file(files, dir, "styles/widgets/base.drl", roots);
  std::string widgets = "// Widgets built on the kind roots.\n";
  for (const auto& layer : derived_widgets()) {
    emit_layer(layer, "", widgets);
    ombrix[layer.name] = layer_json(layer);
  }
  add_file(files, dir, "styles/widgets/widgets.drl", widgets);
  document["Ombrix"] = std::move(ombrix);

  std::string theme_text;
  emit_layer(theme_layer(), "", theme_text);
  add_file(files, dir, "styles/mounts/theme.drl", theme_text);
  document["Theme"] = layer_json(theme_layer());

  // One file per section; every file adds to the same "App" layer.
  Json app = Json::object();
  app["<<"] = "Ombrix/Box";
  for (int s = 0; s < size.sections; ++s) {
    Layer app_part{"App", "Ombrix/Box", {}, {}, {section_layer(s, size)}};
    std::string text;
    emit_layer(app_part, "", text);
    char name[64];
    std::snprintf(name, sizeof name, "styles/mounts/app/section_%05d.drl", s);
    add_file(files, dir, name, text);
    app[app_part.children[0].name] = layer_json(app_part.children[0]);
  }
  if (list_rows > 0) {
    Layer row{
        "Row", "Ombrix/Primary Button", {{"", "Bind", std::string("Field:title"), {}}}, {}, {}};
    row.attrs.push_back({"", "Intent", std::string("list:remove"), {}});
    Layer list{"Rows", "Ombrix/Box", {{"", "Bind", std::string("List:rows"), {}}}, {}, {row}};
    Layer app_part{"App", "", {}, {}, {list}};
    std::string text;
    emit_layer(app_part, "", text);
    add_file(files, dir, "styles/mounts/app/rows.drl", text);
    app["Rows"] = layer_json(list);
  }
  document["App"] = std::move(app);
  files.json = document.dump();

  write_file(dir / "themes/dusk.json", kThemeDusk);
  write_file(dir / "themes/dawn.json", kThemeDawn);
  return files;
}

GeneratedFiles write_wide_layer(int attributes) {
  const fs::path dir = fresh_directory("ombrix-wide");
  Layer wide{"Wide", "", {}, {}, {}};
  for (int a = 0; a < attributes; ++a) {
    wide.attrs.push_back(
        {"", "Value" + std::to_string(a), double(a), {when("Hover", double(a + 1))}});
  }
  std::string text;
  emit_layer(wide, "", text);
  GeneratedFiles files;
  files.root = dir.string();
  add_file(files, dir, "wide.drl", text);
  files.json = Json{{"Wide", layer_json(wide)}}.dump();
  return files;
}

int node_count(const InterfaceSize& size) {
  const int per_row = 1 + size.items_per_row * 3;
  return 1 + size.sections * (2 + size.rows_per_section * per_row) + 1;
}

std::string item_path(int section, int row, int item) {
  return "App/" + section_name(section) + "/" + row_name(row) + "/" + item_name(item);
}

std::string label_path(int section, int row, int item) {
  return item_path(section, row, item) + "/Label";
}

void apply_states(Ombrix::OApp& app, const InterfaceSize& size) {
  app.states.insert("Desktop");
  // One selected item per section, as a list selection would leave it.
  for (int s = 0; s < size.sections; ++s) {
    app.node_states[item_path(s, s % size.rows_per_section, s % size.items_per_row)].insert(
        "Selected");
  }
}

std::vector<Ombrix::ListEntry> make_rows(int count) {
  std::vector<Ombrix::ListEntry> rows;
  rows.reserve(count);
  for (int i = 0; i < count; ++i) {
    Ombrix::ListEntry entry;
    entry.id = "row" + std::to_string(i);
    entry.fields["title"] = "Row number " + std::to_string(i);
    rows.push_back(std::move(entry));
  }
  return rows;
}

void remove_tree(const std::string& root) {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace bench
