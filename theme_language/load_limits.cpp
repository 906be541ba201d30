#include "theme_language/internal/load_limits.h"

#include <utility>
#include <vector>

#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/object.h"

namespace Drelm {

namespace {

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

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

// The texts that expand() gives for a name: every combination of
// alternatives, less those made only of empty alternatives, which it drops.
std::size_t expansions(const DName& name, std::size_t cap) {
  if (name.parts.empty()) return 0;
  std::size_t all = 1;
  std::size_t empty = 1;
  for (const auto& part : name.parts) {
    std::size_t empty_alternatives = 0;
    for (const auto& alternative : part) empty_alternatives += alternative.empty() ? 1 : 0;
    // Saturated, the difference is only known to be large: keep it at the cap.
    all = saturating_multiply(all, part.size(), cap);
    empty = saturating_multiply(empty, empty_alternatives, cap);
  }
  return all == cap ? cap : all - empty;
}

std::size_t paths(const std::vector<DName>& traversal, std::size_t cap) {
  std::size_t count = 1;
  for (const auto& name : traversal) count = saturating_multiply(count, expansions(name, cap), cap);
  return count;
}

// Expansions of a declaration, as expand_declaration gives them.
std::size_t targets(const DDeclaration& declaration, std::size_t cap) {
  std::size_t groups = expansions(declaration.group, cap);
  if (groups == 0) groups = 1;
  return saturating_multiply(saturating_multiply(paths(declaration.traversal, cap), groups, cap),
                             expansions(declaration.name, cap), cap);
}

// One attribute target: the layers walked, the attribute, then its own state
// entries, or inside a state-set the one state of the set.
std::size_t attribute_work(const DAttributeNode& attribute, std::size_t walked, bool in_state_set,
                           std::size_t cap) {
  const std::size_t states = in_state_set ? 1 : attribute.states.size();
  return saturating_add(saturating_add(walked, 1, cap), states, cap);
}

std::size_t group_set_work(const DGroupSet& set, bool in_state_set, std::size_t cap) {
  const std::size_t walked = set.declaration.traversal.size();
  std::size_t per_group = 0;
  for (const auto& attribute : set.attributes) {
    per_group = saturating_add(
        per_group,
        saturating_multiply(expansions(attribute.declaration.name, cap),
                            attribute_work(attribute, walked, in_state_set, cap), cap),
        cap);
  }
  return saturating_multiply(saturating_multiply(paths(set.declaration.traversal, cap),
                                                 expansions(set.declaration.group, cap), cap),
                             per_group, cap);
}

std::size_t declared_attributes_work(const std::vector<DAttributeNode>& attributes,
                                     bool in_state_set, std::size_t cap) {
  std::size_t work = 0;
  for (const auto& attribute : attributes) {
    const std::size_t walked = attribute.declaration.traversal.size();
    work = saturating_add(
        work,
        saturating_multiply(targets(attribute.declaration, cap),
                            attribute_work(attribute, walked, in_state_set, cap), cap),
        cap);
  }
  return work;
}

std::size_t body_work(const DLayerNode& node, std::size_t cap) {
  std::size_t work = declared_attributes_work(node.attributes, false, cap);
  for (const auto& set : node.group_sets) {
    work = saturating_add(work, group_set_work(set, false, cap), cap);
  }
  for (const auto& set : node.state_sets) {
    work = saturating_add(work, declared_attributes_work(set.attributes, true, cap), cap);
    for (const auto& group : set.group_sets) {
      work = saturating_add(work, group_set_work(group, true, cap), cap);
    }
  }
  for (const auto& layer : node.layer_nodes) {
    // Every target of a layer walks to it, names it and lowers the whole body again.
    const std::size_t per_target = saturating_add(
        saturating_add(layer.declaration.traversal.size(), 1, cap), body_work(layer, cap), cap);
    work = saturating_add(
        work, saturating_multiply(targets(layer.declaration, cap), per_target, cap), cap);
  }
  return work;
}

std::size_t saturating_limit(std::size_t limit) { return limit == kUnlimited ? limit : limit + 1; }

}  // namespace

std::size_t object_allowance(std::size_t bytes_read) {
  const std::size_t proportional =
      saturating_multiply(bytes_read, kObjectsPerSourceByte, kUnlimited);
  return proportional > kObjectsFreeOfBound ? proportional : kObjectsFreeOfBound;
}

DLoadBudget::DLoadBudget(const DLoadTotals& totals, const DObject& target)
    : target(&target),
      bytes(totals.bytes_read),
      allowance(object_allowance(totals.bytes_read)),
      made_before(totals.objects_made),
      objects_before(measure_subtree(&target).objects) {}

std::size_t DLoadBudget::remaining() const {
  if (!bounded()) return kUnlimited;
  const std::size_t made = saturating_add(made_before, charged, kUnlimited);
  return made >= allowance ? 0 : allowance - made;
}

void DLoadBudget::make_exact() {
  if (charges_exact || !bounded()) return;
  // Nothing in a load removes objects, so the target's growth is what it made.
  const std::size_t now = measure_subtree(target).objects;
  charged = now > objects_before ? now - objects_before : 0;
  charges_exact = true;
}

bool DLoadBudget::admits(std::size_t objects) {
  if (objects <= remaining()) return true;
  if (charges_exact) return false;
  make_exact();
  return objects <= remaining();
}

void DLoadBudget::charge(std::size_t objects, bool exact_count) {
  if (!bounded()) return;
  charged = saturating_add(charged, objects, kUnlimited);
  charges_exact = charges_exact && exact_count;
}

std::size_t DLoadBudget::made() {
  make_exact();
  return saturating_add(made_before, charged, kUnlimited);
}

std::size_t count_lowerings(const DLayerNode& root, std::size_t limit) {
  return body_work(root, saturating_limit(limit));
}

DSubtreeSize measure_subtree(const DObject* object, std::size_t limit) {
  // Iterative: the subtree may be as deep as the limits allow.
  DSubtreeSize size;
  std::vector<std::pair<const DObject*, std::size_t>> pending{{object, 0}};
  while (!pending.empty()) {
    const auto [current, level] = pending.back();
    pending.pop_back();
    for (const auto& child : current->children()) {
      if (size.objects > limit) {
        size.complete = false;
        return size;
      }
      ++size.objects;
      if (as_layer(child.get()) != nullptr && level + 1 > size.height) size.height = level + 1;
      // Most objects are attributes without states: nothing to visit below.
      if (!child->children().empty()) pending.emplace_back(child.get(), level + 1);
    }
  }
  return size;
}

std::size_t count_copies(const DObject& object, std::size_t limit) {
  const std::size_t cap = saturating_limit(limit);
  std::size_t count = 0;
  std::vector<const DObject*> pending{&object};
  while (!pending.empty()) {
    const DObject* current = pending.back();
    pending.pop_back();
    for (const auto& child : current->children()) {
      // Layers copy their layers and attributes, attributes their states.
      const bool copied = as_attribute(child.get()) != nullptr ||
                          (as_layer(current) != nullptr && as_layer(child.get()) != nullptr);
      if (!copied) continue;
      if (++count >= cap) return cap;
      pending.push_back(child.get());
    }
  }
  return count;
}

std::size_t layer_depth(const DLayer* layer) {
  std::size_t depth = 0;
  for (const DLayer* up = layer->parent(); up != nullptr; up = up->parent()) ++depth;
  return depth;
}

}  // namespace Drelm
