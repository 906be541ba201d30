#include "theme_language/layer.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "theme_language/attribute.h"
#include "theme_language/internal/layer_impl.h"
#include "theme_language/internal/tree_access.h"

namespace Drelm {

DLayer::DLayer() : DObject(DKind::LAYER), impl(std::make_unique<Impl>()) {}

DLayer::DLayer(const std::string& name) : DLayer() { set_object_name(name); }

// Destroyed whole: the callbacks see this layer part, and then its
// children, before any of it is gone (see DOperation).
DLayer::~DLayer() {
  if (DObjectAccess::retire_in_destructor(*this)) {
    DLayerAccess::retire(*this);
  } else if (!DObjectAccess::dying(*this)) {
    DObjectAccess::destroy_unretired(*this);
  }
  forget_kind();
}

// The base belongs to the tree, not to this layer: it is left alone, only
// told to forget this layer; layers derived from this one forget it.
void retire_layer(DLayer& layer) { DLayerAccess::retire(layer); }

void DLayerAccess::retire(DLayer& layer) {
  if (layer.impl->base != nullptr) DLayer::Impl::set_base(layer, nullptr, false);
  if (!layer.impl->derived.empty()) DLayer::Impl::forget_derived(layer);
}

DLayer* DLayer::base() const { return impl->base; }

std::string DLayer::base_path() const { return impl->base_path; }

void DLayer::set_base_path(const std::string& path) { impl->base_path = path; }

bool DLayer::has_unresolved_base() const {
  return impl->base == nullptr && !impl->base_path.empty();
}

DLayer* DLayer::parent() const { return as_layer(DObject::parent()); }

DLayer* DLayer::root() { return root_of(this); }

DLayer* DLayer::namespace_root() {
  // Stops at the top-level layer, the one whose parent is the root.
  return find_up(this, [](const DLayer* layer) {
    const DLayer* up = layer->parent();
    return up == nullptr || up->parent() == nullptr;
  });
}

std::vector<DLayer*> DLayer::children() const { return impl->current_child_layers(*this); }

void DLayer::Impl::update_child_layers(const DLayer& owner) {
  const auto& children = owner.DObject::children();
  const std::size_t version = owner.children_version();
  // Every change of the child list raises the version by one, and only an
  // append also adds one child: a version and a count grown by the same
  // amount mean that many appends, and only the new tail needs a look. Then
  // the list grows as vectors do, so that a layer given thousands of child
  // layers one at a time, looked up in between, costs linear time.
  const bool appended_only = child_layers_version != std::numeric_limits<std::size_t>::max() &&
                             version > child_layers_version &&
                             children.size() >= child_layers_count &&
                             children.size() - child_layers_count == version - child_layers_version;
  if (appended_only) {
    for (std::size_t i = child_layers_count; i < children.size(); ++i) {
      if (DLayer* layer = as_layer(children[i].get())) child_layers.push_back(layer);
    }
  } else {
    const auto count = static_cast<std::size_t>(std::count_if(
        children.begin(), children.end(), [](const auto& child) { return as_layer(child.get()); }));
    // Exactly as long as needed: most layers keep none or one.
    if (child_layers.capacity() != count) {
      std::vector<DLayer*> fresh;
      fresh.reserve(count);
      child_layers.swap(fresh);
    }
    child_layers.clear();
    for (const auto& child : children) {
      if (DLayer* layer = as_layer(child.get())) child_layers.push_back(layer);
    }
  }
  child_layers_version = version;
  child_layers_count = children.size();
}

std::vector<DAttribute*> DLayer::attributes() const {
  std::vector<DAttribute*> list;
  list.reserve(DObject::children().size());
  for (const auto& child : DObject::children()) {
    if (DAttribute* attribute = as_attribute(child.get())) list.push_back(attribute);
  }
  return list;
}

std::string DLayer::path() const {
  // Own name always (even empty), unnamed ancestors such as the root never.
  std::vector<const std::string*> names{&object_name()};
  std::size_t length = object_name().size();
  for (const DLayer* up = parent(); up != nullptr; up = up->parent()) {
    if (up->object_name().empty()) continue;
    names.push_back(&up->object_name());
    length += up->object_name().size() + 1;
  }
  std::string text;
  text.reserve(length);
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it != names.rbegin()) text += '/';
    text += **it;
  }
  return text;
}

DLayer* DLayer::find_layer(std::deque<std::string> names) {
  if (names.empty()) return nullptr;
  DLayer* current = this;
  for (const std::string& name : names) {
    current = find_child_layer(*current, name);
    if (current == nullptr) return nullptr;
  }
  return current;
}

DLayer* DLayer::find_layer(const std::string& path) { return find_layer_path(*this, path); }

DAttribute* DLayer::find_attribute(std::string_view name) {
  const DNameKey key{name, hash_name(name)};
  DAttribute* found = nullptr;
  DLayerAccess::find_attributes(*this, &key, 1, &found);
  return found;
}

DAttribute* DLayer::find_attribute(const std::string& name) {
  return find_attribute(std::string_view(name));
}

DAttribute* DLayer::find_attribute(const char* name) {
  if (name == nullptr) return nullptr;
  return find_attribute(std::string_view(name));
}

namespace {

// Up to this many child layers are searched in the list rather than indexed.
constexpr std::size_t kScannedChildLayers = 8;

}  // namespace

void DLayer::Impl::update_attribute_index(const DLayer& owner) {
  update_name_index(attribute_index, owner.children_version(), owner.child_renames(),
                    owner.DObject::children(), true,
                    [](DObject* child) { return as_attribute(child); });
}

void DLayer::Impl::update_layer_index(const DLayer& owner) {
  update_name_index(layer_index, owner.children_version(), owner.child_renames(),
                    owner.DObject::children(), false,
                    [](DObject* child) { return as_layer(child); });
}

void DLayer::Impl::drop_stale_indexes(const DLayer& owner) {
  if (attribute_index.version() != owner.children_version()) attribute_index.release();
  if (layer_index.version() != owner.children_version()) layer_index.release();
}

void DLayer::resolve_links() {
  const DOperation operation(*this);
  resolve_links_within(*this);
}

void resolve_links_within(DLayer& layer) {
  // In tree order, with a stack of its own: a tree may be as deep as calls
  // make it. Callbacks may destroy what the lists hold, this layer among
  // them: a layer that died is passed over with its subtree, which died too.
  std::vector<DLayer*> pending{&layer};
  while (!pending.empty()) {
    DLayer* const at = pending.back();
    pending.pop_back();
    if (dead(*at)) continue;
    for (DAttribute* attribute : at->attributes()) {
      if (dead(*at)) break;
      if (!dead(*attribute)) resolve_links_within(*attribute);
    }
    if (dead(*at)) continue;
    const std::vector<DLayer*> children = at->children();
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

DLayer* DLayerAccess::find_child_layer(const DLayer& layer, std::string_view name) {
  // Unlike the attribute index, this look-up sees a rename at once, as a walk
  // of the children would.
  DLayer::Impl& impl = *layer.impl;
  const std::vector<DLayer*>& child_layers = impl.current_child_layers(layer);
  if (child_layers.size() <= kScannedChildLayers) {
    for (DLayer* child : child_layers) {
      if (child->object_name() == name) return child;
    }
    return nullptr;
  }
  const auto stamp = impl.layer_index.stamp();
  if (stamp.version != layer.children_version() || stamp.renames != layer.child_renames()) {
    impl.update_layer_index(layer);
  }
  return impl.layer_index.find(name, hash_name(name), layer.DObject::children().data());
}

std::size_t DLayerAccess::base_path_size(const DLayer& layer) {
  return layer.impl->base_path.size();
}

const std::vector<DLayer*>& DLayerAccess::child_layers(const DLayer& layer) {
  return layer.impl->current_child_layers(layer);
}

DObject** DLayerAccess::root_hint(DLayer& layer) { return &layer.impl->root_hint; }

DObject** layer_root_hint(DObject& layer) {
  return DLayerAccess::root_hint(static_cast<DLayer&>(layer));
}

void DLayerAccess::find_attributes(DLayer& layer, const DNameKey* keys, std::size_t count,
                                   DAttribute** out) {
  if (layer.impl->attribute_index.version() != layer.children_version()) {
    layer.impl->update_attribute_index(layer);
  }
  const auto& index = layer.impl->attribute_index;
  const auto* children = layer.DObject::children().data();
  for (std::size_t i = 0; i < count; ++i) out[i] = index.find(keys[i].name, keys[i].hash, children);
}

void DLayerAccess::find_attributes(DLayer& layer, const DNameTable& table, DAttribute** out) {
  if (layer.impl->attribute_index.version() != layer.children_version()) {
    layer.impl->update_attribute_index(layer);
  }
  const auto& children = layer.DObject::children();
  layer.impl->attribute_index.find_table(table.keys, table.count, children.data(), children.size(),
                                         out);
}

void find_attributes(DLayer& layer, const DNameKey* keys, std::size_t count, DAttribute** out) {
  DLayerAccess::find_attributes(layer, keys, count, out);
}

void find_attributes(DLayer& layer, const DNameTable& table, DAttribute** out) {
  DLayerAccess::find_attributes(layer, table, out);
}

DAttribute* find_attribute(DLayer& layer, const DNameKey& key) {
  DAttribute* found = nullptr;
  DLayerAccess::find_attributes(layer, &key, 1, &found);
  return found;
}

DLayer* find_child_layer(const DLayer& layer, std::string_view name) {
  return DLayerAccess::find_child_layer(layer, name);
}

const std::vector<DLayer*>& child_layers_of(const DLayer& layer) {
  return DLayerAccess::child_layers(layer);
}

DLayer* find_layer_path(DLayer& layer, std::string_view path) {
  DLayer* current = &layer;
  bool any = false;
  for_each_piece(path, '/', [&](std::string_view name) {
    any = true;
    if (current != nullptr) current = find_child_layer(*current, name);
  });
  return any ? current : nullptr;
}

}  // namespace Drelm
