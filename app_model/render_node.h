#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app_model/style.h"

namespace Ombrix {

enum class NodeType : std::uint32_t {
  box,
  text,
  button,
  icon,
  editor,
  image,
  video,
  markdown,
  qr,
  checkbox,
  link,
  host,
  scanner,
  combobox,
};

struct ComboOption {
  std::string id;
  std::string label;
  bool operator==(const ComboOption&) const = default;
};

// One row of a data list: its id and named fields.
struct ListEntry {
  std::string id;
  std::map<std::string, std::string, std::less<>> fields;
};

// What a list button asks for when clicked.
struct ListAction {
  std::string action;
  std::string arg;
  std::string data;
};

// One node of the render tree; copies are deep, moves leave the source's vectors empty.
struct RenderNode {
  NodeType type = NodeType::box;
  std::string name;
  std::string path;
  std::string text;
  ResolvedStyle style;
  std::vector<RenderNode> children;
  std::vector<ComboOption> comboOptions;
  std::string comboSelected;

  RenderNode() = default;
  RenderNode(const RenderNode&) = default;
  RenderNode& operator=(const RenderNode& other);
  RenderNode(RenderNode&& other) noexcept;
  RenderNode& operator=(RenderNode&& other) noexcept;
  ~RenderNode() = default;
};

enum class PatchKind : std::uint32_t { insert, remove, update, replace, editorvalue };

struct Patch {
  PatchKind kind = PatchKind::insert;
  std::string path;
  std::string parentPath;
  std::int32_t index = 0;
  RenderNode node;
};

// Names written by the JSON forms.
const char* to_string(NodeType type);
const char* to_string(PatchKind kind);

}  // namespace Ombrix
