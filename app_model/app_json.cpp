#include "app_model/app_internal.h"

#include <cstdint>
#include <string>
#include <utility>

#include "app_model/qr.h"

namespace Ombrix {

namespace {

using Json = nlohmann::ordered_json;

// Compact as dump() writes by default, but a string that is not valid UTF-8 is written
// with U+FFFD instead of throwing: a patch list has already advanced the kept tree when
// it is written, so a throw here would lose its patches for good.
std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json style_to_json(const ResolvedStyle& s) {
  Json style = Json::object();
  style["fill"] = s.fill;
  style["fillIsGradient"] = s.fillIsGradient;
  style["borderFill"] = s.borderFill;
  style["borderIsGradient"] = s.borderIsGradient;
  style["borderThickness"] = s.borderThickness;
  style["radiusTL"] = s.radiusTL;
  style["radiusTR"] = s.radiusTR;
  style["radiusBL"] = s.radiusBL;
  style["radiusBR"] = s.radiusBR;
  style["marginL"] = s.marginL;
  style["marginT"] = s.marginT;
  style["marginR"] = s.marginR;
  style["marginB"] = s.marginB;
  style["paddingL"] = s.paddingL;
  style["paddingT"] = s.paddingT;
  style["paddingR"] = s.paddingR;
  style["paddingB"] = s.paddingB;
  style["textColor"] = s.textColor;
  style["codeBg"] = s.codeBg;
  style["fontSize"] = s.fontSize;
  style["fontWeight"] = s.fontWeight;
  style["direction"] = s.direction;
  style["spacing"] = s.spacing;
  style["crossAlign"] = s.crossAlign;
  style["justify"] = s.justify;
  style["scroll"] = s.scroll;
  style["grow"] = s.grow;
  style["width"] = s.width;
  style["height"] = s.height;
  style["maxWidth"] = s.maxWidth;
  style["aspectRatio"] = s.aspectRatio;
  style["translateY"] = s.translateY;
  style["translateX"] = s.translateX;
  style["rotation"] = s.rotation;
  style["opacity"] = s.opacity;
  style["collapsed"] = s.collapsed;
  style["placeholder"] = s.placeholder;
  style["secret"] = s.secret;
  style["multiline"] = s.multiline;
  style["iconSource"] = s.iconSource;
  style["mediaSource"] = s.mediaSource;
  style["fit"] = s.fit;
  style["autoplay"] = s.autoplay;
  style["loop"] = s.loop;
  style["muted"] = s.muted;
  style["controls"] = s.controls;
  style["qrData"] = s.qrData;
  style["intent"] = s.intent;
  style["overlay"] = s.overlay;
  style["href"] = s.href;
  style["tag"] = s.tag;
  style["anchor"] = s.anchor;
  return style;
}

Json patch_to_json(const Patch& patch) {
  Json object = Json::object();
  object["op"] = to_string(patch.kind);
  switch (patch.kind) {
    case PatchKind::insert:
      object["parentPath"] = patch.parentPath;
      object["index"] = patch.index;
      object["node"] = node_to_json(patch.node);
      break;
    case PatchKind::remove:
      object["path"] = patch.path;
      break;
    case PatchKind::update:
      object["path"] = patch.path;
      object["node"] = node_to_json(patch.node);
      break;
    case PatchKind::replace:
      object["path"] = patch.path;
      object["parentPath"] = patch.parentPath;
      object["node"] = node_to_json(patch.node);
      break;
    case PatchKind::editorvalue:
      object["path"] = patch.path;
      object["text"] = patch.node.text;
      break;
  }
  return object;
}

}  // namespace

nlohmann::ordered_json node_to_json(const RenderNode& node) {
  Json style = style_to_json(node.style);
  Json object = Json::object();
  object["type"] = to_string(node.type);
  object["name"] = node.name;
  object["path"] = node.path;
  if (!node.text.empty()) object["text"] = node.text;
  object["style"] = std::move(style);
  if (node.type == NodeType::qr) {
    const QrMatrix matrix = encode_qr(node.style.qrData);
    std::string modules;
    modules.reserve(matrix.modules.size());
    for (std::uint8_t module : matrix.modules) modules.push_back(module != 0 ? '1' : '0');
    object["qrSize"] = matrix.size;
    object["qrModules"] = std::move(modules);
  }
  if (node.type == NodeType::combobox) {
    Json options = Json::array();
    for (const ComboOption& option : node.comboOptions) {
      Json entry = Json::object();
      entry["id"] = option.id;
      entry["label"] = option.label;
      options.push_back(std::move(entry));
    }
    object["comboOptions"] = std::move(options);
    object["comboSelected"] = node.comboSelected;
  }
  Json children = Json::array();
  for (const RenderNode& child : node.children) children.push_back(node_to_json(child));
  object["children"] = std::move(children);
  return object;
}

std::string OApp::render_tree_json() const { return dump(node_to_json(build_render_tree())); }

std::string OApp::render_patches_json() {
  Json array = Json::array();
  for (const Patch& patch : render_patches()) array.push_back(patch_to_json(patch));
  return dump(array);
}

}  // namespace Ombrix
