#include "theme_language/layer.h"

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/layer_impl.h"
#include "theme_language/internal/load_limits.h"
#include "theme_language/logger.h"

namespace Drelm {

namespace {

// True when `target` is on the base chain that starts at `start`. Bases set by
// merging can close a loop that the chain never leaves, so each link is
// visited once.
bool base_chain_contains(const DLayer* start, const std::set<const DLayer*>& targets) {
  std::set<const DLayer*> seen;
  for (const DLayer* link = start; link != nullptr && seen.insert(link).second;
       link = link->base()) {
    if (targets.count(link) != 0) return true;
  }
  return false;
}

// A base must not lead back to the layer or to anything that contains it.
bool accepts_base(const DLayer* layer, const DLayer* candidate) {
  if (candidate == nullptr) return false;
  std::set<const DLayer*> refused;
  for (const DLayer* up = layer; up != nullptr; up = up->parent()) refused.insert(up);
  return !base_chain_contains(candidate, refused);
}

// The base stays set, so the layer keeps its kind and inherited states; only
// the copies are left out.
void refuse_base(const DLayer& layer, const std::string& reason) {
  log("engine: " + layer.path() + ": Failed to apply base `" + layer.base_path() + "` because " +
      reason + ".");
}

}  // namespace

void DLayer::resolve_bases() {
  if (impl->base == nullptr && !impl->base_path.empty()) {
    // The own namespace first, so a namespace may shadow a top-level name.
    DLayer* candidate = namespace_root()->find_layer(impl->base_path);
    if (!accepts_base(this, candidate)) candidate = root()->find_layer(impl->base_path);
    if (accepts_base(this, candidate)) impl->base = candidate;
  }
  for (DLayer* layer : children()) layer->resolve_bases();
}

void DLayer::finalize() {
  if (finalizing || finalized) return;
  finalizing = true;
  // Bases are finalized first, so a long chain of them nests these calls.
  static std::size_t nesting = 0;
  struct Nested {
    Nested() { ++nesting; }
    ~Nested() { --nesting; }  // also when a merge throws
  } nested;
  bool merge = impl->base != nullptr;
  if (impl->base != nullptr) {
    // A base still finalizing is further up this call chain: inheriting from it
    // would merge a half-built layer, so nothing is inherited.
    if (impl->base->finalizing) {
      impl->base = nullptr;
      merge = false;
    } else if (!impl->base->finalized) {
      if (nesting > 4 * kMaxLayerDepth) {
        refuse_base(*this, "bases lead through more than " + std::to_string(4 * kMaxLayerDepth) +
                               " layers");
        merge = false;
      } else {
        impl->base->finalize();
      }
    }
  }
  for (DLayer* layer : children()) layer->finalize();
  if (merge && impl->base != nullptr) {
    const DSubtreeSize size = measure_subtree(impl->base);
    if (layer_depth(this) + size.height > kMaxLayerDepth) {
      refuse_base(
          *this, "the layers would nest deeper than " + std::to_string(kMaxLayerDepth) + " levels");
    } else if (copy_budget_exhausted()) {
      // Reported once, when the budget ran out.
    } else if (!take_copy_budget(size.objects)) {
      refuse_base(*this, "inheritance would copy more than " + std::to_string(copy_budget()) +
                             " objects; later bases of this load are not applied either");
    } else {
      Impl::merge_from(impl->base, this);
    }
  }
  finalizing = false;
  finalized = true;
}

void DLayer::Impl::merge_from(DLayer* base, DLayer* derived) {
  // Both indexes are taken before anything is added; a later name wins.
  std::map<std::string_view, DAttribute*> own_attributes;
  for (DAttribute* attribute : derived->attributes()) {
    own_attributes.insert_or_assign(attribute->object_name(), attribute);
  }
  std::map<std::string_view, DLayer*> own_layers;
  for (DLayer* layer : derived->children())
    own_layers.insert_or_assign(layer->object_name(), layer);

  for (DAttribute* inherited : base->attributes()) {
    const auto found = own_attributes.find(inherited->object_name());
    if (found == own_attributes.end()) {
      inherited->clone_to(derived);
      continue;
    }
    DAttribute* own = found->second;
    // A value or link of the derived declaration always wins.
    if (std::holds_alternative<std::monostate>(own->value()) && own->link() == nullptr) {
      if (const DLink* link = inherited->link()) {
        own->create_link(link->path);  // bound later, in the derived layer's context
      } else {
        own->set_value(inherited->value());
      }
    }
    const auto inherited_states = inherited->states(true);
    if (inherited_states.empty()) continue;
    // A clone adds only its own name to the attribute's states, and the names
    // walked are distinct, so one index taken first answers every check.
    auto own_states = own->states(true);
    for (const auto& [state_name, state] : inherited_states) {
      if (own_states.find(state_name) != own_states.end()) continue;
      state->clone_to(own);
      own_states.emplace(state_name, nullptr);
    }
  }

  const std::vector<DLayer*> base_layers = base->children();
  std::vector<DObject*> order;
  order.reserve(base_layers.size() + own_layers.size());
  std::set<std::string_view> base_names;
  for (DLayer* inherited : base_layers) {
    base_names.insert(inherited->object_name());
    const auto found = own_layers.find(inherited->object_name());
    if (found != own_layers.end()) {
      merge_from(inherited, found->second);
      order.push_back(found->second);
    } else {
      inherited->clone_to(derived);
      order.push_back(derived->DObject::children().back().get());
    }
  }
  for (DLayer* layer : derived->children()) {
    if (base_names.count(layer->object_name()) == 0) order.push_back(layer);
  }
  derived->reorder_children(order);

  // Gives a nested layer without a base of its own the base's same-named child,
  // unless that child already leads back here: a looping base chain would never
  // end for anything that follows it.
  if (derived->impl->base == nullptr && !base_chain_contains(base, {derived})) {
    derived->impl->base = base;
  }
}

void DLayer::clone_to(DObject* parent) const {
  // Taken before the copy exists, in case the copy lands among them.
  const std::vector<DAttribute*> own_attributes = attributes();
  const std::vector<DLayer*> own_layers = children();
  auto* copy = dMake<DLayer>(parent, object_name());
  copy->impl->base = impl->base;
  copy->impl->base_path = impl->base_path;
  copy->finalized = finalized;
  for (const DAttribute* attribute : own_attributes) attribute->clone_to(copy);
  for (const DLayer* layer : own_layers) layer->clone_to(copy);
}

std::set<DLayer*> DLayer::dependencies() const {
  std::set<DLayer*> bases;
  std::vector<const DLayer*> pending{this};
  while (!pending.empty()) {
    const DLayer* layer = pending.back();
    pending.pop_back();
    if (layer->impl->base != nullptr) bases.insert(layer->impl->base);
    for (const DLayer* child : layer->children()) pending.push_back(child);
  }
  return bases;
}

}  // namespace Drelm
