#include "app_model/render_node.h"

#include <utility>

namespace Ombrix {

RenderNode::RenderNode(RenderNode&& other) noexcept
    : type(other.type),
      name(std::move(other.name)),
      path(std::move(other.path)),
      text(std::move(other.text)),
      style(std::move(other.style)),
      children(std::move(other.children)),
      comboOptions(std::move(other.comboOptions)),
      comboSelected(std::move(other.comboSelected)) {
  // The diff and the patch builders rely on a moved-from node holding no subtree.
  other.children.clear();
  other.comboOptions.clear();
}

RenderNode& RenderNode::operator=(const RenderNode& other) {
  // Copy first: other may sit inside this node's subtree, which the
  // assignment releases.
  if (this != &other) *this = RenderNode(other);
  return *this;
}

RenderNode& RenderNode::operator=(RenderNode&& other) noexcept {
  if (this == &other) return *this;
  // Take other out first: it may sit inside this node's subtree (a node
  // replaced by one of its own children), which the assignment releases.
  RenderNode taken(std::move(other));
  type = taken.type;
  name = std::move(taken.name);
  path = std::move(taken.path);
  text = std::move(taken.text);
  style = std::move(taken.style);
  children = std::move(taken.children);
  comboOptions = std::move(taken.comboOptions);
  comboSelected = std::move(taken.comboSelected);
  return *this;
}

const char* to_string(NodeType type) {
  switch (type) {
    case NodeType::box:
      return "box";
    case NodeType::text:
      return "text";
    case NodeType::button:
      return "button";
    case NodeType::icon:
      return "icon";
    case NodeType::editor:
      return "editor";
    case NodeType::image:
      return "image";
    case NodeType::video:
      return "video";
    case NodeType::markdown:
      return "markdown";
    case NodeType::qr:
      return "qr";
    case NodeType::checkbox:
      return "checkbox";
    case NodeType::link:
      return "link";
    case NodeType::host:
      return "host";
    case NodeType::scanner:
      return "scanner";
    case NodeType::combobox:
      return "combobox";
  }
  return "box";
}

const char* to_string(PatchKind kind) {
  switch (kind) {
    case PatchKind::insert:
      return "insert";
    case PatchKind::remove:
      return "remove";
    case PatchKind::update:
      return "update";
    case PatchKind::replace:
      return "replace";
    case PatchKind::editorvalue:
      return "editorvalue";
  }
  return "insert";
}

}  // namespace Ombrix
