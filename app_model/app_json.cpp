#include "app_model/internal/app_internal.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "app_model/internal/json_writer.h"
#include "app_model/internal/style_internal.h"
#include "app_model/qr.h"

namespace Ombrix {

namespace {

using Json = nlohmann::ordered_json;

// The documents below are the reference for the bytes that json_writer.cpp
// writes directly; the OApp operations use the direct writer.

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

constexpr std::size_t kJsonStyleKeys = std::apply(
    [](const auto&... field) {
      return (std::size_t{0} + ... + (field.shown == StyleShown::json ? 1 : 0));
    },
    kStyleFields);

Json style_to_json(const ResolvedStyle& s) {
  Json json;
  Json::object_t& style = start_object(json, kJsonStyleKeys);
  for_each_style_field([&style, &s](auto i) {
    if constexpr (kInJson<i>) {
      constexpr auto& field = std::get<i>(kStyleFields);
      style.emplace_back(std::string(field.name), s.*std::remove_cvref_t<decltype(field)>::member);
    }
  });
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

std::string reference_node_json(const RenderNode& node) { return dump(node_to_json(node)); }

std::string reference_patches_json(const std::vector<Patch>& patches) {
  Json array = Json::array();
  array.get_ref<Json::array_t&>().reserve(patches.size());
  for (const Patch& patch : patches) array.push_back(patch_to_json(patch));
  return dump(array);
}

namespace {

// Debug and fuzzing builds write every tree and patch list a second time
// through the JSON library: a byte that differs must fail there.
template <typename Value>
void check_written([[maybe_unused]] const std::string& written,
                   [[maybe_unused]] const Value& value) {
#if !defined(NDEBUG) || defined(OMBRIX_CHECK_JSON_WRITER)
  std::string expected;
  if constexpr (std::is_same_v<Value, RenderNode>) {
    expected = reference_node_json(value);
  } else {
    expected = reference_patches_json(value);
  }
  if (written != expected) {
    std::fprintf(stderr, "json writer: the text differs from the JSON library's\n");
    std::abort();
  }
#endif
}

}  // namespace

std::string OApp::render_tree_json() const {
  const RenderNode tree = build_render_tree();
  std::string text = node_json(tree);
  check_written(text, tree);
  return text;
}

std::string OApp::render_patches_json() {
  const std::vector<Patch> patches = render_patches();
  std::string text = patches_json(patches);
  check_written(text, patches);
  return text;
}

}  // namespace Ombrix
