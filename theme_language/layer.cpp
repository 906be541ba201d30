#include "theme_language/layer.h"

#include <algorithm>
#include <utility>

#include "theme_language/attribute.h"
#include "theme_language/internal/layer_impl.h"
#include "theme_language/internal/tree_access.h"

namespace Drelm {

DLayer::DLayer() : DObject(DKind::LAYER), impl(std::make_unique<Impl>()) {}

DLayer::DLayer(const std::string& name) : DLayer() { set_object_name(name); }

// The base belongs to the tree, not to this object: it is left alone. The
// children are destroyed afterwards, by DObject, when this layer part is gone.
DLayer::~DLayer() { forget_kind(); }

DLayer* DLayer::base() const { return impl->base; }

std::string DLayer::base_path() const { return impl->base_path; }

void DLayer::set_base_path(const std::string& path) { impl->base_path = path; }

bool DLayer::has_unresolved_base() const {
  return impl->base == nullptr && !impl->base_path.empty();
}

DLayer* DLayer::parent() const { return as_layer(DObject::parent()); }

DLayer* DLayer::root() {
  DLayer* current = this;
  while (DLayer* up = current->parent()) current = up;
  return current;
}

DLayer* DLayer::namespace_root() {
  // Stops at the top-level layer, the one whose parent is the root.
  DLayer* current = this;
  for (DLayer* up = current->parent(); up != nullptr && up->parent() != nullptr;
       up = current->parent()) {
    current = up;
  }
  return current;
}

std::vector<DLayer*> DLayer::children() const {
  if (impl->child_layers_version != children_version()) {
    impl->child_layers.clear();
    for (const auto& child : DObject::children()) {
      if (DLayer* layer = as_layer(child.get())) impl->child_layers.push_back(layer);
    }
    impl->child_layers_version = children_version();
  }
  return impl->child_layers;
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
  if (impl->cached_children_version != children_version()) impl->update_attribute_cache(*this);
  const auto& index = impl->attribute_index;
  const auto it = std::lower_bound(index.begin(), index.end(), name,
                                   [this](const Impl::IndexEntry& entry, std::string_view wanted) {
                                     return impl->key(entry) < wanted;
                                   });
  if (it == index.end() || impl->key(*it) != name) return nullptr;
  return it->attribute;
}

DAttribute* DLayer::find_attribute(const std::string& name) {
  return find_attribute(std::string_view(name));
}

DAttribute* DLayer::find_attribute(const char* name) {
  if (name == nullptr) return nullptr;
  return find_attribute(std::string_view(name));
}

void DLayer::Impl::update_attribute_cache(const DLayer& owner) {
  const auto& children = owner.DObject::children();
  const std::size_t version = owner.children_version();
  // Only add_child raises the version while the count grows, by one each: a
  // version and a count grown by the same amount mean that many appends, and
  // only the new tail needs indexing.
  // A renamed child may sit anywhere in the index, also shadowed by a later
  // one of its old name: only a rebuild places it right.
  const bool appended_only =
      cached_children_version != std::numeric_limits<std::size_t>::max() &&
      version > cached_children_version && children.size() >= cached_child_count &&
      children.size() - cached_child_count == version - cached_children_version &&
      owner.child_renames() == cached_child_renames;
  if (!appended_only) {
    rebuild_attribute_cache(owner);
    return;
  }
  for (std::size_t i = cached_child_count; i < children.size(); ++i) {
    if (DAttribute* attribute = as_attribute(children[i].get())) index_attribute(attribute);
  }
  cached_children_version = version;
  cached_child_count = children.size();
}

void DLayer::Impl::rebuild_attribute_cache(const DLayer& owner) {
  // Invalid until complete, so that a failed rebuild is never extended.
  cached_children_version = std::numeric_limits<std::size_t>::max();
  attribute_index.clear();
  index_names.clear();
  const auto& children = owner.DObject::children();
  for (const auto& child : children) {
    if (DAttribute* attribute = as_attribute(child.get())) {
      const std::string& name = attribute->object_name();
      attribute_index.push_back(IndexEntry{index_names.size(), name.size(), attribute});
      index_names += name;
    }
  }
  // Stable, so that of one name the last in child order ends its run and wins.
  std::stable_sort(attribute_index.begin(), attribute_index.end(),
                   [this](const IndexEntry& a, const IndexEntry& b) { return key(a) < key(b); });
  auto out = attribute_index.begin();
  for (auto it = attribute_index.begin(); it != attribute_index.end(); ++it) {
    const auto next = std::next(it);
    if (next != attribute_index.end() && key(*next) == key(*it)) continue;
    *out++ = *it;
  }
  attribute_index.erase(out, attribute_index.end());
  cached_children_version = owner.children_version();
  cached_child_count = children.size();
  cached_child_renames = owner.child_renames();
}

void DLayer::Impl::index_attribute(DAttribute* attribute) {
  const std::string_view name = attribute->object_name();
  const auto it = std::lower_bound(
      attribute_index.begin(), attribute_index.end(), name,
      [this](const IndexEntry& entry, std::string_view wanted) { return key(entry) < wanted; });
  if (it != attribute_index.end() && key(*it) == name) {
    it->attribute = attribute;
    return;
  }
  const IndexEntry entry{index_names.size(), name.size(), attribute};
  index_names += name;
  attribute_index.insert(it, entry);
}

void DLayer::resolve_links() {
  for (DAttribute* attribute : attributes()) attribute->resolve_links();
  for (DLayer* layer : children()) layer->resolve_links();
}

DLayer* find_child_layer(const DLayer& layer, std::string_view name) {
  for (const auto& child : layer.DObject::children()) {
    DLayer* found = as_layer(child.get());
    if (found != nullptr && found->object_name() == name) return found;
  }
  return nullptr;
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
