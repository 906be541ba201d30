#include "app_model/internal/app_internal.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// Every key below is set once, in order: appending to the object's storage skips the
// search for an existing key that operator[] makes, which grows with the key count.
Json::object_t& start_object(Json& json, std::size_t keys) {
  json = Json::object();
  auto& object = json.get_ref<Json::object_t&>();
  object.reserve(keys);
  return object;
}

Json style_to_json(const ResolvedStyle& s) {
  Json json;
  Json::object_t& style = start_object(json, 52);
  style.emplace_back("fill", s.fill);
  style.emplace_back("fillIsGradient", s.fillIsGradient);
  style.emplace_back("borderFill", s.borderFill);
  style.emplace_back("borderIsGradient", s.borderIsGradient);
  style.emplace_back("borderThickness", s.borderThickness);
  style.emplace_back("radiusTL", s.radiusTL);
  style.emplace_back("radiusTR", s.radiusTR);
  style.emplace_back("radiusBL", s.radiusBL);
  style.emplace_back("radiusBR", s.radiusBR);
  style.emplace_back("marginL", s.marginL);
  style.emplace_back("marginT", s.marginT);
  style.emplace_back("marginR", s.marginR);
  style.emplace_back("marginB", s.marginB);
  style.emplace_back("paddingL", s.paddingL);
  style.emplace_back("paddingT", s.paddingT);
  style.emplace_back("paddingR", s.paddingR);
  style.emplace_back("paddingB", s.paddingB);
  style.emplace_back("textColor", s.textColor);
  style.emplace_back("codeBg", s.codeBg);
  style.emplace_back("fontSize", s.fontSize);
  style.emplace_back("fontWeight", s.fontWeight);
  style.emplace_back("direction", s.direction);
  style.emplace_back("spacing", s.spacing);
  style.emplace_back("crossAlign", s.crossAlign);
  style.emplace_back("justify", s.justify);
  style.emplace_back("scroll", s.scroll);
  style.emplace_back("grow", s.grow);
  style.emplace_back("width", s.width);
  style.emplace_back("height", s.height);
  style.emplace_back("maxWidth", s.maxWidth);
  style.emplace_back("aspectRatio", s.aspectRatio);
  style.emplace_back("translateY", s.translateY);
  style.emplace_back("translateX", s.translateX);
  style.emplace_back("rotation", s.rotation);
  style.emplace_back("opacity", s.opacity);
  style.emplace_back("collapsed", s.collapsed);
  style.emplace_back("placeholder", s.placeholder);
  style.emplace_back("secret", s.secret);
  style.emplace_back("multiline", s.multiline);
  style.emplace_back("iconSource", s.iconSource);
  style.emplace_back("mediaSource", s.mediaSource);
  style.emplace_back("fit", s.fit);
  style.emplace_back("autoplay", s.autoplay);
  style.emplace_back("loop", s.loop);
  style.emplace_back("muted", s.muted);
  style.emplace_back("controls", s.controls);
  style.emplace_back("qrData", s.qrData);
  style.emplace_back("intent", s.intent);
  style.emplace_back("overlay", s.overlay);
  style.emplace_back("href", s.href);
  style.emplace_back("tag", s.tag);
  style.emplace_back("anchor", s.anchor);
  return json;
}

Json patch_to_json(const Patch& patch) {
  Json json;
  Json::object_t& object = start_object(json, 4);
  object.emplace_back("op", to_string(patch.kind));
  switch (patch.kind) {
    case PatchKind::insert:
      object.emplace_back("parentPath", patch.parentPath);
      object.emplace_back("index", patch.index);
      object.emplace_back("node", node_to_json(patch.node));
      break;
    case PatchKind::remove:
      object.emplace_back("path", patch.path);
      break;
    case PatchKind::update:
      object.emplace_back("path", patch.path);
      object.emplace_back("node", node_to_json(patch.node));
      break;
    case PatchKind::replace:
      object.emplace_back("path", patch.path);
      object.emplace_back("parentPath", patch.parentPath);
      object.emplace_back("node", node_to_json(patch.node));
      break;
    case PatchKind::editorvalue:
      object.emplace_back("path", patch.path);
      object.emplace_back("text", patch.node.text);
      break;
  }
  return json;
}

}  // namespace

nlohmann::ordered_json node_to_json(const RenderNode& node) {
  Json style = style_to_json(node.style);
  Json json;
  Json::object_t& object = start_object(json, 10);
  object.emplace_back("type", to_string(node.type));
  object.emplace_back("name", node.name);
  object.emplace_back("path", node.path);
  if (!node.text.empty()) object.emplace_back("text", node.text);
  object.emplace_back("style", std::move(style));
  if (node.type == NodeType::qr) {
    const QrMatrix matrix = encode_qr(node.style.qrData);
    std::string modules;
    modules.reserve(matrix.modules.size());
    for (std::uint8_t module : matrix.modules) modules.push_back(module != 0 ? '1' : '0');
    object.emplace_back("qrSize", matrix.size);
    object.emplace_back("qrModules", std::move(modules));
  }
  if (node.type == NodeType::combobox) {
    Json options = Json::array();
    options.get_ref<Json::array_t&>().reserve(node.comboOptions.size());
    for (const ComboOption& option : node.comboOptions) {
      Json entry;
      Json::object_t& fields = start_object(entry, 2);
      fields.emplace_back("id", option.id);
      fields.emplace_back("label", option.label);
      options.push_back(std::move(entry));
    }
    object.emplace_back("comboOptions", std::move(options));
    object.emplace_back("comboSelected", node.comboSelected);
  }
  Json children = Json::array();
  children.get_ref<Json::array_t&>().reserve(node.children.size());
  for (const RenderNode& child : node.children) children.push_back(node_to_json(child));
  object.emplace_back("children", std::move(children));
  return json;
}

std::string OApp::render_tree_json() const { return dump(node_to_json(build_render_tree())); }

std::string OApp::render_patches_json() {
  const std::vector<Patch> patches = render_patches();
  Json array = Json::array();
  array.get_ref<Json::array_t&>().reserve(patches.size());
  for (const Patch& patch : patches) array.push_back(patch_to_json(patch));
  return dump(array);
}

}  // namespace Ombrix
