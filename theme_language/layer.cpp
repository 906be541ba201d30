#include "theme_language/layer.h"

#include <utility>

#include "theme_language/attribute.h"
#include "theme_language/layer_impl.h"

namespace Drelm {

DLayer::DLayer() : impl(std::make_unique<Impl>()) {}

DLayer::DLayer(const std::string& name) : DLayer() { set_object_name(name); }

// The base belongs to the tree, not to this object: it is left alone.
DLayer::~DLayer() = default;

DLayer* DLayer::base() const { return impl->base; }

std::string DLayer::base_path() const { return impl->base_path; }

void DLayer::set_base_path(const std::string& path) { impl->base_path = path; }

bool DLayer::has_unresolved_base() const {
  return impl->base == nullptr && !impl->base_path.empty();
}

DLayer* DLayer::parent() const { return dynamic_cast<DLayer*>(DObject::parent()); }

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
  std::vector<DLayer*> layers;
  layers.reserve(DObject::children().size());
  find_children_helper<DLayer>(this, layers, false);
  return layers;
}

std::vector<DAttribute*> DLayer::attributes() const {
  std::vector<DAttribute*> list;
  list.reserve(DObject::children().size());
  find_children_helper<DAttribute>(this, list, false);
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
  const std::string name = std::move(names.front());
  names.pop_front();
  for (const auto& child : DObject::children()) {
    auto* layer = dynamic_cast<DLayer*>(child.get());
    if (layer == nullptr || layer->object_name() != name) continue;
    return names.empty() ? layer : layer->find_layer(std::move(names));
  }
  return nullptr;
}

DLayer* DLayer::find_layer(const std::string& path) {
  return find_layer(split<std::deque<std::string>>(path, '/'));
}

DAttribute* DLayer::find_attribute(std::string_view name) {
  if (impl->cached_children_version != children_version()) impl->rebuild_attribute_cache(*this);
  const auto it = impl->attribute_cache.find(name);
  return it == impl->attribute_cache.end() ? nullptr : it->second;
}

DAttribute* DLayer::find_attribute(const std::string& name) {
  return find_attribute(std::string_view(name));
}

DAttribute* DLayer::find_attribute(const char* name) {
  if (name == nullptr) return nullptr;
  return find_attribute(std::string_view(name));
}

void DLayer::Impl::rebuild_attribute_cache(const DLayer& owner) {
  attribute_cache.clear();
  for (const auto& child : owner.DObject::children()) {
    // A later attribute of the same name replaces an earlier one.
    if (auto* attribute = dynamic_cast<DAttribute*>(child.get())) {
      attribute_cache.insert_or_assign(attribute->object_name(), attribute);
    }
  }
  cached_children_version = owner.children_version();
}

void DLayer::resolve_links() {
  for (DAttribute* attribute : attributes()) attribute->resolve_links();
  for (DLayer* layer : children()) layer->resolve_links();
}

}  // namespace Drelm
