#include "theme_language/internal/load_limits.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "theme_language/internal/attribute_impl.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/shared_value.h"
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

// Longest text that expand() gives for a name: the longest alternative of
// each part, joined by spaces.
std::size_t longest(const DName& name, std::size_t cap) {
  std::size_t length = name.parts.empty() ? 0 : name.parts.size() - 1;
  for (const auto& part : name.parts) {
    std::size_t widest = 0;
    for (const auto& alternative : part) widest = std::max(widest, alternative.size());
    length = saturating_add(length, widest, cap);
  }
  return length;
}

std::size_t traversal_bytes(const std::vector<DName>& traversal, std::size_t cap) {
  std::size_t bytes = 0;
  for (const auto& name : traversal) bytes = saturating_add(bytes, longest(name, cap), cap);
  return bytes;
}

// flatten(group, name) at its longest.
std::size_t grouped_name_bytes(const DName& group, const DName& name, std::size_t cap) {
  const std::size_t prefix = group.parts.empty() ? 0 : saturating_add(longest(group, cap), 1, cap);
  return saturating_add(prefix, longest(name, cap), cap);
}

std::size_t key_bytes(const std::vector<std::string>& conditions) {
  std::size_t bytes = conditions.size();
  for (const auto& condition : conditions) bytes += condition.size();
  return bytes;
}

std::size_t reference_bytes(const DReference& reference) {
  std::size_t bytes = reference.group.size() + 1 + reference.name.size();
  for (const auto& name : reference.traversal) bytes += name.size() + 1;
  return bytes;
}

// A long text is held once for all the attributes that lowering gives it.
std::size_t value_bytes(const DExpression& value) {
  if (const auto* reference = std::get_if<DReference>(&value)) return reference_bytes(*reference);
  const auto* text = std::get_if<std::string>(&std::get<DLiteral>(value));
  return text != nullptr && text->size() < kSharedTextBytes ? text->size() : 0;
}

// Where an attribute target lands: the layers it walks (and the bytes of
// their names) and the bytes of its own name.
struct AttributePlace {
  std::size_t walked;
  std::size_t name_bytes;
};

// One target counted in objects: the layers walked, the attribute, then its
// own state entries, or inside a state-set the one state of the set.
struct ObjectCost {
  std::size_t attribute(const DAttributeNode& attribute, const AttributePlace& place,
                        const DStateSet* set, std::size_t cap) const {
    const std::size_t entries = set != nullptr ? 1 : attribute.states.size();
    return saturating_add(saturating_add(place.walked, 1, cap), entries, cap);
  }
  std::size_t layer(const DLayerNode& layer, std::size_t cap) const {
    return saturating_add(layer.declaration.traversal.size(), 1, cap);
  }
  AttributePlace place(const std::vector<DName>& traversal, const DName&, const DName&,
                       std::size_t) const {
    return AttributePlace{traversal.size(), 0};
  }
};

// One target counted in bytes of text: the names it may make, the keys of
// its states and the values it gives them. Inside a state-set, the key of the
// set; outside, the attribute's own entries.
struct ByteCost {
  std::size_t attribute(const DAttributeNode& attribute, const AttributePlace& place,
                        const DStateSet* set, std::size_t cap) const {
    std::size_t bytes = saturating_add(place.name_bytes, value_bytes(attribute.value), cap);
    if (set != nullptr) return saturating_add(bytes, key_bytes(set->conditions), cap);
    for (const auto& entry : attribute.states) {
      bytes = saturating_add(bytes, key_bytes(entry.conditions) + value_bytes(entry.value), cap);
    }
    return bytes;
  }
  std::size_t layer(const DLayerNode& layer, std::size_t cap) const {
    const std::size_t bytes = saturating_add(
        traversal_bytes(layer.declaration.traversal, cap),
        grouped_name_bytes(layer.declaration.group, layer.declaration.name, cap), cap);
    return saturating_add(bytes, layer.inherits ? reference_bytes(*layer.inherits) : 0, cap);
  }
  AttributePlace place(const std::vector<DName>& traversal, const DName& group, const DName& name,
                       std::size_t cap) const {
    return AttributePlace{0, saturating_add(traversal_bytes(traversal, cap),
                                            grouped_name_bytes(group, name, cap), cap)};
  }
};

template <typename Cost>
std::size_t group_set_work(const DGroupSet& group_set, const DStateSet* set, const Cost& cost,
                           std::size_t cap) {
  std::size_t per_group = 0;
  for (const auto& attribute : group_set.attributes) {
    const AttributePlace place =
        cost.place(group_set.declaration.traversal, group_set.declaration.group,
                   attribute.declaration.name, cap);
    per_group = saturating_add(per_group,
                               saturating_multiply(expansions(attribute.declaration.name, cap),
                                                   cost.attribute(attribute, place, set, cap), cap),
                               cap);
  }
  return saturating_multiply(saturating_multiply(paths(group_set.declaration.traversal, cap),
                                                 expansions(group_set.declaration.group, cap), cap),
                             per_group, cap);
}

// What lowering the body does, as for_each_statement hands it over: the same
// statements lowering takes, each multiplied by its targets instead of
// expanded.
template <typename Cost>
std::size_t body_work(const DLayerNode& node, const Cost& cost, std::size_t cap) {
  struct Adding {
    const Cost& cost;
    std::size_t cap;
    std::size_t work = 0;

    void attribute(const DAttributeNode& attribute, const DStateSet* set) {
      const DDeclaration& declaration = attribute.declaration;
      const AttributePlace place =
          cost.place(declaration.traversal, declaration.group, declaration.name, cap);
      add(saturating_multiply(targets(declaration, cap), cost.attribute(attribute, place, set, cap),
                              cap));
    }
    void group_set(const DGroupSet& group_set, const DStateSet* set) {
      add(group_set_work(group_set, set, cost, cap));
    }
    void layer(const DLayerNode& layer) {
      // Every target of a layer walks to it, names it and lowers the whole body again.
      const std::size_t per_target =
          saturating_add(cost.layer(layer, cap), body_work(layer, cost, cap), cap);
      add(saturating_multiply(targets(layer.declaration, cap), per_target, cap));
    }
    void add(std::size_t more) { work = saturating_add(work, more, cap); }
  } adding{cost, cap};
  for_each_statement<false>(node, adding);
  return adding.work;
}

// The line of a state-set's first declaration.
std::size_t state_set_line(const DStateSet& state_set) {
  bool found = false;
  std::size_t line = 0;
  auto consider = [&](std::size_t candidate) {
    if (!found || candidate < line) line = candidate;
    found = true;
  };
  for (const auto& attribute : state_set.attributes) consider(attribute.declaration.name.line);
  for (const auto& group_set : state_set.group_sets) consider(group_set.declaration.name.line);
  return line;
}

std::size_t saturating_limit(std::size_t limit) { return limit == kUnlimited ? limit : limit + 1; }

}  // namespace

std::size_t object_allowance(std::size_t bytes_read) {
  const std::size_t proportional =
      saturating_multiply(bytes_read, kObjectsPerSourceByte, kUnlimited);
  return proportional > kObjectsFreeOfBound ? proportional : kObjectsFreeOfBound;
}

std::size_t copied_byte_allowance(std::size_t bytes_read) {
  const std::size_t proportional =
      saturating_multiply(bytes_read, kCopiedBytesPerSourceByte, kUnlimited);
  return proportional > kCopiedBytesFreeOfBound ? proportional : kCopiedBytesFreeOfBound;
}

namespace {
std::size_t count_subtree(const DObject& object);
}  // namespace

DLoadBudget::DLoadBudget(const DLoadTotals& totals, const DObject& target)
    : target(&target),
      bytes(totals.bytes_read),
      allowance(object_allowance(totals.bytes_read)),
      made_before(totals.objects_made),
      objects_before(count_subtree(target)),
      byte_allowance(copied_byte_allowance(totals.bytes_read)),
      bytes_copied_before(totals.bytes_copied) {}

DLoadBudget::~DLoadBudget() {
  for (const auto& [base, id] : too_large) const_cast<DLayer*>(base)->disconnect_destroyed(id);
}

void DLoadBudget::remember_too_large(DLayer& base) {
  if (too_large.count(&base) != 0) return;
  const DLayer* address = &base;
  too_large.emplace(address, base.on_destroyed([this, address] { too_large.erase(address); }));
}

std::size_t DLoadBudget::remaining() const {
  if (!bounded()) return kUnlimited;
  const std::size_t made = saturating_add(made_before, charged, kUnlimited);
  return made >= allowance ? 0 : allowance - made;
}

void DLoadBudget::make_exact() {
  if (charges_exact || !bounded()) return;
  // Nothing in a load removes objects, so the target's growth is what it made.
  const std::size_t now = count_subtree(*target);
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

std::size_t DLoadBudget::remaining_bytes() const {
  if (!bounded()) return kUnlimited;
  const std::size_t copied = bytes_copied();
  return copied >= byte_allowance ? 0 : byte_allowance - copied;
}

void DLoadBudget::charge_bytes(std::size_t bytes) {
  if (bounded()) bytes_charged = saturating_add(bytes_charged, bytes, kUnlimited);
}

std::size_t DLoadBudget::bytes_copied() const {
  return saturating_add(bytes_copied_before, bytes_charged, kUnlimited);
}

std::size_t count_lowerings(const DLayerNode& root, std::size_t limit) {
  return body_work(root, ObjectCost{}, saturating_limit(limit));
}

std::size_t count_lowered_bytes(const DLayerNode& root, std::size_t limit) {
  return body_work(root, ByteCost{}, saturating_limit(limit));
}

std::vector<DStatement> statements_in_line_order(const DLayerNode& node) {
  std::vector<DStatement> statements;
  statements.reserve(node.state_sets.size() + node.attributes.size() + node.layer_nodes.size() +
                     node.group_sets.size());
  for (std::size_t i = 0; i < node.state_sets.size(); ++i) {
    statements.push_back({state_set_line(node.state_sets[i]), DStatementKind::state_set, i});
  }
  for (std::size_t i = 0; i < node.attributes.size(); ++i) {
    statements.push_back({node.attributes[i].declaration.name.line, DStatementKind::attribute, i});
  }
  for (std::size_t i = 0; i < node.layer_nodes.size(); ++i) {
    statements.push_back({node.layer_nodes[i].declaration.name.line, DStatementKind::layer, i});
  }
  for (std::size_t i = 0; i < node.group_sets.size(); ++i) {
    statements.push_back({node.group_sets[i].declaration.name.line, DStatementKind::group_set, i});
  }
  // Stable, so statements on one line keep the order state-set, attribute, layer, group-set.
  std::stable_sort(statements.begin(), statements.end(),
                   [](const DStatement& a, const DStatement& b) { return a.line < b.line; });
  return statements;
}

namespace {

// measure_subtree, and without the bytes where only the count is asked for.
template <bool kBytes>
DSubtreeSize measure(const DObject* object, std::size_t limit) {
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
      // Each counted text lies in memory: the sum cannot overflow.
      if constexpr (kBytes) size.bytes += copied_bytes(*child);
      if (as_layer(child.get()) != nullptr && level + 1 > size.height) size.height = level + 1;
      // Most objects are attributes without states: nothing to visit below.
      if (!child->children().empty()) pending.emplace_back(child.get(), level + 1);
    }
  }
  return size;
}

// The objects below `object`, as measure_subtree counts them.
std::size_t count_subtree(const DObject& object) {
  return measure<false>(&object, kUnlimited).objects;
}

}  // namespace

DSubtreeSize measure_subtree(const DObject* object, std::size_t limit) {
  return measure<true>(object, limit);
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

std::size_t copied_bytes(const DObject& object) {
  if (const DAttribute* attribute = as_attribute(&object)) {
    return DAttribute::Impl::own_text_bytes(*attribute);
  }
  if (const DLayer* layer = as_layer(&object)) return DLayerAccess::base_path_size(*layer);
  return 0;
}

std::size_t layer_depth(const DLayer* layer) {
  std::size_t depth = 0;
  for (const DLayer* up = layer->parent(); up != nullptr; up = up->parent()) ++depth;
  return depth;
}

}  // namespace Drelm
