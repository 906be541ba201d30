#include "theme_language/attribute.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <variant>

#include "theme_language/internal/attribute_impl.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"

namespace Drelm {

namespace {

// Pieces of a state name between ":" separators; an empty piece at the start
// or between two separators counts, a trailing separator adds none.
std::vector<std::string> split_conditions(const std::string& name) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start < name.size()) {
    const std::size_t end = name.find(':', start);
    if (end == std::string::npos) {
      pieces.emplace_back(name, start);
      break;
    }
    pieces.emplace_back(name, start, end - start);
    start = end + 1;
  }
  return pieces;
}

bool has_attribute_child(const DObject& object) {
  for (const auto& child : object.children()) {
    if (as_attribute(child.get()) != nullptr) return true;
  }
  return false;
}

bool all_active(const std::vector<std::string>& conditions,
                const std::vector<std::string>& active) {
  for (const std::string& condition : conditions) {
    if (std::find(active.begin(), active.end(), condition) == active.end()) return false;
  }
  return true;
}

// A later child of the same name replaces an earlier one.
void add_own_states(const DObject& attribute,
                    std::map<std::string, DAttribute*, std::less<>>& out) {
  for (const auto& child : attribute.children()) {
    if (DAttribute* state = as_attribute(child.get())) {
      out.insert_or_assign(state->object_name(), state);
    }
  }
}

}  // namespace

DAttribute::DAttribute(const std::string& name) : DObject(DKind::ATTRIBUTE) {
  set_object_name(name);
}

std::string DAttribute::path() const {
  const DObject* up = DObject::parent();
  if (const DAttribute* attribute = as_attribute(up)) {
    return attribute->path() + "." + object_name();
  }
  if (const DLayer* layer = as_layer(up)) {
    std::string layer_path = layer->path();
    if (layer_path.empty()) return object_name();
    return layer_path + "/" + object_name();
  }
  return object_name();
}

const DValue& DAttribute::value() const {
  const DAttribute* current = this;
  while (DAttribute* next = Impl::target_of(*current)) current = next;
  return current->own_value;
}

std::map<std::string, DAttribute*, std::less<>> DAttribute::states(bool inherited) const {
  std::map<std::string, DAttribute*, std::less<>> result;
  add_own_states(*this, result);
  if (!inherited) return result;
  DLayer* layer = as_layer(DObject::parent());
  if (layer == nullptr) return result;
  // Walked iteratively with a guard: a base chain that loops back must end
  // here rather than recurse forever. Own names win, nearer bases next.
  std::vector<const DLayer*> seen{layer};
  for (DLayer* base = layer->base(); base != nullptr; base = base->base()) {
    if (std::find(seen.begin(), seen.end(), base) != seen.end()) break;
    seen.push_back(base);
    DAttribute* inherited_from = base->find_attribute(object_name());
    if (inherited_from == nullptr) break;
    std::map<std::string, DAttribute*, std::less<>> own;
    add_own_states(*inherited_from, own);
    for (auto& entry : own) result.emplace(entry.first, entry.second);
  }
  return result;
}

bool DAttribute::has_states() const {
  // Taken afresh: the state cache may still miss a base resolved since it was built.
  return !states(true).empty();
}

bool DAttribute::Impl::foreign_fresh() const {
  for (const auto& [counter, value] : states->foreign_generations) {
    if (*counter != value) return false;
  }
  return true;
}

void DAttribute::Impl::rebuild_state_cache(DAttribute& attribute) {
  // Untrusted until complete, so a rebuild that fails half-way is never used.
  attribute.states_generation = nullptr;
  attribute.states_flags = 0;
  const std::uint32_t* generation = tree_generation(attribute);
  bool any = has_attribute_child(attribute);
  std::vector<std::pair<const std::uint32_t*, std::uint32_t>> foreign;
  // The same walk as states(true): what it reaches is what the entries depend on.
  if (DLayer* layer = as_layer(attribute.DObject::parent())) {
    std::vector<const DLayer*> seen{layer};
    for (DLayer* base = layer->base(); base != nullptr; base = base->base()) {
      if (std::find(seen.begin(), seen.end(), base) != seen.end()) break;
      seen.push_back(base);
      const std::uint32_t* other = tree_generation(*base);
      if (other != generation) foreign.emplace_back(other, *other);
      DAttribute* inherited_from = base->find_attribute(attribute.object_name());
      if (inherited_from == nullptr) break;
      any = any || has_attribute_child(*inherited_from);
    }
  }
  std::uint8_t flags = 0;
  if (any || !foreign.empty() || (attribute.impl && attribute.impl->states)) {
    Impl& owner_record = of(attribute);
    if (!owner_record.states) owner_record.states = std::make_unique<StateRecord>();
    StateRecord& record = *owner_record.states;
    record.entries.clear();
    if (any) {
      auto merged = attribute.states(true);
      record.entries.reserve(merged.size());
      for (auto& [name, state] : merged) {
        record.entries.push_back(StateEntry{state, split_conditions(name)});
      }
      if (!record.entries.empty()) flags |= kStateEntries;
    }
    record.foreign_generations = std::move(foreign);
    if (!record.foreign_generations.empty()) flags |= kForeignTrees;
  }
  attribute.states_flags = flags;
  attribute.states_checked_at = *generation;
  attribute.states_generation = generation;
}

DAttribute* DAttribute::state(const std::vector<std::string>& active) {
  if (!Impl::state_cache_fresh(*this)) Impl::rebuild_state_cache(*this);
  if ((states_flags & Impl::kStateEntries) == 0) return nullptr;
  DAttribute* best = nullptr;
  std::size_t best_count = 0;
  for (const auto& entry : impl->states->entries) {
    // Only strictly more conditions can win, so a tie keeps the earlier name.
    if (entry.conditions.size() <= best_count) continue;
    if (!all_active(entry.conditions, active)) continue;
    best = entry.state;
    best_count = entry.conditions.size();
  }
  return best;
}

template <typename T>
const T* DAttribute::as_if(const std::vector<std::string>& active) {
  if (active.empty()) return std::get_if<T>(&value());
  DAttribute* current = this;
  while (true) {
    // A state's own states are not consulted: it answers with its chain's end.
    if (DAttribute* selected = current->state(active)) return std::get_if<T>(&selected->value());
    DAttribute* next = Impl::target_of(*current);
    if (next == nullptr) return std::get_if<T>(&current->own_value);
    current = next;
  }
}

template <typename T>
T DAttribute::as(const std::vector<std::string>& active) {
  const T* found = as_if<T>(active);
  return found != nullptr ? *found : T{};
}

DAttribute* find_own_state(const DAttribute& attribute, std::string_view name) {
  const auto& children = attribute.children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    DAttribute* state = as_attribute(it->get());
    if (state != nullptr && state->object_name() == name) return state;
  }
  return nullptr;
}

std::vector<DAttribute*> own_states_by_name(const DAttribute& attribute) {
  std::vector<DAttribute*> states;
  for (const auto& child : attribute.children()) {
    if (DAttribute* state = as_attribute(child.get())) states.push_back(state);
  }
  if (states.size() < 2) return states;
  const auto by_name = [](const DAttribute* a, const DAttribute* b) {
    return a->object_name() < b->object_name();
  };
  // Stable, so that of one name the last in child order ends its run and wins;
  // by insertion when short, as most attributes have a handful of states and
  // a stable_sort allocates.
  if (states.size() > 32) {
    std::stable_sort(states.begin(), states.end(), by_name);
  } else {
    for (std::size_t i = 1; i < states.size(); ++i) {
      DAttribute* moving = states[i];
      std::size_t j = i;
      for (; j > 0 && by_name(moving, states[j - 1]); --j) states[j] = states[j - 1];
      states[j] = moving;
    }
  }
  auto out = states.begin();
  for (auto it = states.begin(); it != states.end(); ++it) {
    const auto next = std::next(it);
    if (next != states.end() && (*next)->object_name() == (*it)->object_name()) continue;
    *out++ = *it;
  }
  states.erase(out, states.end());
  return states;
}

template const double* DAttribute::as_if<double>(const std::vector<std::string>&);
template const bool* DAttribute::as_if<bool>(const std::vector<std::string>&);
template const std::string* DAttribute::as_if<std::string>(const std::vector<std::string>&);
template double DAttribute::as<double>(const std::vector<std::string>&);
template bool DAttribute::as<bool>(const std::vector<std::string>&);
template std::string DAttribute::as<std::string>(const std::vector<std::string>&);

}  // namespace Drelm
