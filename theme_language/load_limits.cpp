#include "theme_language/internal/load_limits.h"

#include <limits>
#include <vector>

#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace Drelm {

namespace {

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();
std::size_t copy_limit = kUnlimited;
std::size_t remaining_copies = kUnlimited;
bool copies_exhausted = false;

std::size_t saturating_multiply(std::size_t a, std::size_t b, std::size_t cap) {
  if (a == 0 || b == 0) return 0;
  if (a > cap / b) return cap;
  const std::size_t product = a * b;
  return product > cap ? cap : product;
}

std::size_t saturating_add(std::size_t a, std::size_t b, std::size_t cap) {
  if (a >= cap || b >= cap || a >= cap - b) return cap;
  return a + b;
}

// Upper bound of the expansions of a name: the product of its alternatives.
std::size_t expansions(const DName& name, std::size_t cap) {
  if (name.parts.empty()) return 0;
  std::size_t count = 1;
  for (const auto& part : name.parts) count = saturating_multiply(count, part.size(), cap);
  return count;
}

std::size_t paths(const std::vector<DName>& traversal, std::size_t cap) {
  std::size_t count = 1;
  for (const auto& name : traversal) count = saturating_multiply(count, expansions(name, cap), cap);
  return count;
}

std::size_t targets(const DDeclaration& declaration, std::size_t cap) {
  std::size_t groups = expansions(declaration.group, cap);
  if (groups == 0) groups = 1;
  return saturating_multiply(saturating_multiply(paths(declaration.traversal, cap), groups, cap),
                             expansions(declaration.name, cap), cap);
}

std::size_t attribute_work(const DAttributeNode& attribute, std::size_t cap) {
  return saturating_add(1, attribute.states.size(), cap);
}

std::size_t group_set_work(const DGroupSet& set, std::size_t cap) {
  std::size_t per_group = 0;
  for (const auto& attribute : set.attributes) {
    per_group = saturating_add(per_group,
                               saturating_multiply(expansions(attribute.declaration.name, cap),
                                                   attribute_work(attribute, cap), cap),
                               cap);
  }
  return saturating_multiply(saturating_multiply(paths(set.declaration.traversal, cap),
                                                 expansions(set.declaration.group, cap), cap),
                             per_group, cap);
}

std::size_t body_work(const DLayerNode& node, std::size_t cap) {
  std::size_t work = 0;
  for (const auto& attribute : node.attributes) {
    work = saturating_add(work,
                          saturating_multiply(targets(attribute.declaration, cap),
                                              attribute_work(attribute, cap), cap),
                          cap);
  }
  for (const auto& set : node.group_sets)
    work = saturating_add(work, group_set_work(set, cap), cap);
  for (const auto& set : node.state_sets) {
    for (const auto& attribute : set.attributes) {
      work = saturating_add(work, targets(attribute.declaration, cap), cap);
    }
    for (const auto& group : set.group_sets)
      work = saturating_add(work, group_set_work(group, cap), cap);
  }
  for (const auto& layer : node.layer_nodes) {
    // Every target of a layer lowers the whole body again.
    work = saturating_add(work,
                          saturating_multiply(targets(layer.declaration, cap),
                                              saturating_add(1, body_work(layer, cap), cap), cap),
                          cap);
  }
  return work;
}

}  // namespace

std::size_t count_lowerings(const DLayerNode& root, std::size_t limit) {
  const std::size_t cap = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
  return body_work(root, cap);
}

DSubtreeSize measure_subtree(const DObject* object) {
  // Iterative: the subtree may be as deep as the limits allow.
  DSubtreeSize size;
  std::vector<std::pair<const DObject*, std::size_t>> pending{{object, 0}};
  while (!pending.empty()) {
    const auto [current, level] = pending.back();
    pending.pop_back();
    for (const auto& child : current->children()) {
      ++size.objects;
      if (dynamic_cast<const DLayer*>(child.get()) != nullptr && level + 1 > size.height) {
        size.height = level + 1;
      }
      pending.emplace_back(child.get(), level + 1);
    }
  }
  return size;
}

std::size_t layer_depth(const DLayer* layer) {
  std::size_t depth = 0;
  for (const DLayer* up = layer->parent(); up != nullptr; up = up->parent()) ++depth;
  return depth;
}

void set_copy_budget(std::size_t objects) {
  copy_limit = objects;
  remaining_copies = objects;
  copies_exhausted = false;
}

void clear_copy_budget() { set_copy_budget(kUnlimited); }

std::size_t copy_budget() { return copy_limit; }

bool copy_budget_exhausted() { return copies_exhausted; }

bool take_copy_budget(std::size_t objects) {
  if (copies_exhausted) return false;
  if (objects > remaining_copies) {
    copies_exhausted = true;
    return false;
  }
  if (remaining_copies != kUnlimited) remaining_copies -= objects;
  return true;
}

}  // namespace Drelm
