#include "benchmarks/generator.h"

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

struct Attr {
  std::string group;
  std::string name;
  Value value;
  std::vector<std::pair<std::string, Value>> states;  // inline "@State: value"
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

void emit_attrs(const std::vector<Attr>& attrs, const std::string& indent, std::string& out) {
  // Consecutive attributes of one group become a group-set.
  for (std::size_t i = 0; i < attrs.size();) {
    const Attr& first = attrs[i];
    if (first.group.empty()) {
      out += indent + first.name + ": " + drl_value(first.value);
      for (const auto& [state, value] : first.states) out += " @" + state + ": " + drl_value(value);
      out += "\n";
      ++i;
      continue;
    }
    out += indent + first.group + ".\n";
    for (; i < attrs.size() && attrs[i].group == first.group; ++i) {
      out += indent + "    " + attrs[i].name + ": " + drl_value(attrs[i].value) + "\n";
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
    out += inner + "@";
    for (std::size_t i = 0; i < set.conditions.size(); ++i) {
      out += (i == 0 ? "" : " & ") + set.conditions[i];
    }
    out += ":\n";
    emit_attrs(set.attrs, inner + "    ", out);
  }
  for (const auto& child : layer.children) emit_layer(child, inner, out);
}

Json layer_json(const Layer& layer) {
  Json object = Json::object();
  if (!layer.base.empty()) object["<<"] = layer.base;
  for (const auto& attr : layer.attrs) {
    object[attr_name(attr)] = json_value(attr.value);
    for (const auto& [state, value] : attr.states) object[attr_name(attr) + "@" + state] = json_value(value);
  }
  for (const auto& set : layer.state_sets) {
    std::string key = "@";
    for (std::size_t i = 0; i < set.conditions.size(); ++i) key += (i == 0 ? "" : "&") + set.conditions[i];
    Json block = Json::object();
    for (const auto& attr : set.attrs) block[attr_name(attr)] = json_value(attr.value);
    object[key] = std::move(block);
  }
  for (const auto& child : layer.children) object[child.name] = layer_json(child);
  return object;
}

Reference theme(const char* key) { return Reference{std::string("Theme/") + key}; }

std::vector<Attr> box_metrics(double radius, double padding) {
  return {
      {"Corner Radii", "Top Left", radius, {}},     {"Corner Radii", "Top Right", radius, {}},
      {"Corner Radii", "Bottom Left", radius, {}},  {"Corner Radii", "Bottom Right", radius, {}},
      {"Padding", "Left", padding, {}},             {"Padding", "Top", padding / 2, {}},
      {"Padding", "Right", padding, {}},            {"Padding", "Bottom", padding / 2, {}},
      {"Layout", "Direction", std::string("row"), {}},
      {"Layout", "Spacing", 6.0, {}},
  };
}

std::vector<Layer> widget_layers() {
  std::vector<Layer> widgets;
  Layer box{"Box", "", box_metrics(0, 0), {}, {}};
  box.attrs.push_back({"", "Fill", theme("Secondary"), {}});
  widgets.push_back(box);

  Layer text{"Text", "", {}, {}, {}};
  text.attrs = {{"", "Text Color", theme("Foreground"), {}},
                {"Font", "Size", 14.0, {{"Mobile", 16.0}}},
                {"Font", "Weight", 400.0, {}}};
  widgets.push_back(text);

  Layer button{"Button", "Box", box_metrics(6, 12), {}, {}};
  button.attrs.push_back({"", "Fill", theme("Primary"), {{"Hover", theme("Tertiary")}}});
  button.attrs.push_back({"", "Text Color", theme("Foreground"), {}});
  button.attrs.push_back({"", "Opacity", 1.0, {{"Disabled", 0.5}}});
  button.state_sets.push_back({{"Hover", "Pressed"}, {{"", "Fill", theme("Secondary"), {}}}});
  button.state_sets.push_back(
      {{"Selected"},
       {{"", "Fill", Colour{"ff5865f2"}, {}}, {"Corner Radii", "Top Left", 10.0, {}}}});
  button.state_sets.push_back({{"Narrow"}, {{"Padding", "Left", 6.0, {}}}});
  // Derived from "Detail", so it styles the button without becoming a node of its own.
  Layer border{"Border", "Detail", {{"", "Fill", theme("Tertiary"), {}}, {"", "Thickness", 1.0, {}}},
               {}, {}};
  button.children.push_back(border);
  widgets.push_back(button);

  Layer icon{"Icon", "", {{"Size", "Width", 24.0, {}}, {"Size", "Height", 24.0, {}}}, {}, {}};
  icon.attrs.push_back({"", "Text Color", theme("Foreground"), {}});
  widgets.push_back(icon);

  Layer card{"Card", "Box", box_metrics(8, 16), {}, {}};
  card.attrs.push_back({"Fill", "Start Color", theme("Gradient.Start Color"), {}});
  card.attrs.push_back({"Fill", "End Color", theme("Gradient.End Color"), {}});
  card.attrs.push_back({"Fill", "Start", theme("Gradient.Start"), {}});
  card.attrs.push_back({"Fill", "End", theme("Gradient.End"), {}});
  card.attrs.push_back({"Layout", "Direction", std::string("column"), {}});
  widgets.push_back(card);
  widgets.push_back(Layer{"Detail", "", {}, {}, {}});
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

Layer section_layer(int s, const InterfaceSize& size) {
  Layer section{"Section" + std::to_string(s), "Ombrix/Card", {}, {}, {}};
  section.attrs.push_back({"Layout", "Spacing", 4.0 + s % 3, {}});
  for (int i = 0; i < size.items_per_section; ++i) {
    Layer item{"Item" + std::to_string(i), "Ombrix/Button", {}, {}, {}};
    item.attrs.push_back({"", "Intent", std::string("open"), {}});
    item.attrs.push_back({"Size", "Width", 120.0 + i % 7, {{"Narrow", 80.0}}});
    for (int a = 0; a < size.extra_attributes; ++a) {
      item.attrs.push_back({"Extra", "Value" + std::to_string(a), double(a), {}});
    }
    Layer label{"Label", "Ombrix/Text", {}, {}, {}};
    label.attrs.push_back(
        {"", "Text", std::string("Item " + std::to_string(s) + "." + std::to_string(i)), {}});
    item.children.push_back(label);
    section.children.push_back(item);
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

}  // namespace

GeneratedFiles write_interface(const InterfaceSize& size, int list_rows) {
  const fs::path dir = fresh_directory("ombrix-bench");
  GeneratedFiles files;
  files.root = dir.string();
  Json document = Json::object();

  std::string widgets;
  Json ombrix = Json::object();
  for (const auto& widget : widget_layers()) {
    emit_layer(widget, "", widgets);
    ombrix[widget.name] = layer_json(widget);
  }
  write_file(dir / "styles/widgets/base.drl", widgets);
  files.drl_bytes += widgets.size();
  document["Ombrix"] = std::move(ombrix);

  std::string theme_text;
  emit_layer(theme_layer(), "", theme_text);
  write_file(dir / "styles/mounts/theme.drl", theme_text);
  files.drl_bytes += theme_text.size();
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
    write_file(dir / name, text);
    files.drl_bytes += text.size();
    app[app_part.children[0].name] = layer_json(app_part.children[0]);
  }
  if (list_rows > 0) {
    Layer row{"Row", "Ombrix/Button", {{"", "Bind", std::string("Field:title"), {}}}, {}, {}};
    row.attrs.push_back({"", "Intent", std::string("list:remove"), {}});
    Layer list{"Rows", "Ombrix/Box", {{"", "Bind", std::string("List:rows"), {}}}, {}, {row}};
    Layer app_part{"App", "", {}, {}, {list}};
    std::string text;
    emit_layer(app_part, "", text);
    write_file(dir / "styles/mounts/app/rows.drl", text);
    files.drl_bytes += text.size();
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
    wide.attrs.push_back({"", "Value" + std::to_string(a), double(a), {{"Hover", double(a + 1)}}});
  }
  std::string text;
  emit_layer(wide, "", text);
  write_file(dir / "wide.drl", text);
  GeneratedFiles files;
  files.root = dir.string();
  files.drl_bytes = text.size();
  files.json = Json{{"Wide", layer_json(wide)}}.dump();
  return files;
}

int node_count(const InterfaceSize& size) {
  return 1 + size.sections + size.sections * size.items_per_section * 2;
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
