#include "theme_language/attribute.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "theme_language/internal/attribute_impl.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"

namespace Drelm {

namespace {

bool has_attribute_child(const DObject& object) {
  for (const auto& child : object.children()) {
    if (as_attribute(child.get()) != nullptr) return true;
  }
  return false;
}

// A later child of the same name replaces an earlier one.
template <typename Map>
void add_own_states(const DObject& attribute, Map& out) {
  for (const auto& child : attribute.children()) {
    if (DAttribute* state = as_attribute(child.get())) {
      out.insert_or_assign(state->object_name(), state);
    }
  }
}

}  // namespace

DAttribute::DAttribute(const std::string& name) : DObject(DKind::ATTRIBUTE, name) {}

std::string DAttribute::path() const {
  // Up through the attributes that hold this one as a state, then down again:
  // states nest as deep as calls make them.
  std::vector<const DAttribute*> chain{this};
  std::size_t size = object_name().size();
  while (const DAttribute* up = as_attribute(chain.back()->DObject::parent())) {
    chain.push_back(up);
    size += 1 + up->object_name().size();
  }
  std::string result;
  if (const DLayer* layer = as_layer(chain.back()->DObject::parent())) {
    result = layer->path();
    if (!result.empty()) result += '/';
  }
  result.reserve(result.size() + size);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) result += '.';
    result += (*it)->object_name();
  }
  return result;
}

const DValue& DAttribute::value() const {
  const DAttribute* current = this;
  while (DAttribute* next = Impl::target_of(*current)) current = next;
  return Impl::stored(*current);
}

std::map<std::string, DAttribute*, std::less<>> DAttribute::states(bool inherited) const {
  std::map<std::string, DAttribute*, std::less<>> result;
  add_own_states(*this, result);
  if (!inherited) return result;
  // Own names win, nearer bases next: a base met again in a looping chain
  // adds nothing new. A base attribute whose state entries are good holds
  // the rest of the chain's states already.
  std::map<std::string_view, DAttribute*> own;
  for_each_state_source(
      *this,
      [&](const DAttribute& inherited_from) {
        if (&inherited_from != this && Impl::state_cache_fresh(inherited_from)) {
          if ((inherited_from.states_flags & Impl::kStateEntries) != 0) {
            for (const Impl::StateEntry& entry : inherited_from.impl->states->entries) {
              result.emplace(entry.state->object_name(), entry.state);
            }
          }
          return false;
        }
        own.clear();
        add_own_states(inherited_from, own);
        for (auto& entry : own) result.emplace(entry.first, entry.second);
        return true;
      },
      [](const DLayer&) {});
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

// The pieces of the name between ":" separators: an empty piece at the start or between two
// separators counts and a trailing separator adds none.
void DAttribute::Impl::add_state_entry(StateRecord& record, DAttribute* state,
                                       std::string_view name, DConditionTable& table) {
  StateEntry entry;
  entry.state = state;
  entry.wide_start = static_cast<std::uint32_t>(record.wide_ids.size());
  const auto add = [&](std::string_view piece) {
    ++entry.count;
    const std::uint32_t id = table.intern(piece);
    if (id < 64) {
      entry.mask |= std::uint64_t{1} << id;
    } else {
      record.wide_ids.push_back(id);
    }
  };
  for_each_piece(name, ':', add);
  record.entries.push_back(entry);
}

std::uint64_t answers_version(const DObject& object) {
  const DTreeStates& tree = tree_states(object);
  return std::uint64_t{tree.generation} << 32 | tree.answers;
}

void DAttribute::Impl::rebuild_state_cache(DAttribute& attribute) {
  // A base attribute whose entries are good answers for the rest of the
  // chain, so the stale ones on the way are built first, farthest first:
  // along a chain every attribute then stops at its nearest source, and a
  // whole chain costs one walk, without recursion.
  std::vector<DAttribute*> stale;
  for_each_state_source(
      attribute,
      [&](DAttribute& from) {
        if (&from == &attribute || state_cache_fresh(from)) return false;
        stale.push_back(&from);
        return true;
      },
      [](const DLayer&) {});
  for (auto it = stale.rbegin(); it != stale.rend(); ++it) {
    if (!state_cache_fresh(**it)) rebuild_one_state_cache(**it);
  }
  rebuild_one_state_cache(attribute);
}

void DAttribute::Impl::rebuild_one_state_cache(DAttribute& attribute) {
  // Untrusted until complete, so a rebuild that fails half-way is never used.
  const std::uint8_t kept = attribute.states_flags & kValueFlags;
  attribute.states_tree = nullptr;
  attribute.states_flags = kept;
  DTreeStates& tree = tree_states(attribute);
  const std::uint32_t* generation = &tree.generation;
  bool any = has_attribute_child(attribute);
  std::vector<std::pair<const std::uint32_t*, std::uint32_t>> foreign;
  // The same walk as states(true), up to the first source with good entries,
  // which stand for the rest: what it reaches is what the entries depend on.
  std::vector<const DAttribute*> sources;
  const DAttribute* reused = nullptr;
  for_each_state_source(
      attribute,
      [&](const DAttribute& from) {
        if (&from != &attribute && state_cache_fresh(from)) {
          reused = &from;
          if ((from.states_flags & kStateEntries) != 0) any = true;
          if ((from.states_flags & kForeignTrees) != 0) {
            for (const auto& entry : from.impl->states->foreign_generations) {
              if (entry.first != generation) foreign.emplace_back(entry.first, *entry.first);
            }
          }
          return false;
        }
        sources.push_back(&from);
        any = any || has_attribute_child(from);
        return true;
      },
      [&](const DLayer& base) {
        const std::uint32_t* other = tree_generation(base);
        if (other != generation) foreign.emplace_back(other, *other);
      });
  std::uint8_t flags = kept;
  if (any || !foreign.empty() || (attribute.impl && attribute.impl->states)) {
    Impl& owner_record = of(attribute);
    if (!owner_record.states) owner_record.states = std::make_unique<StateRecord>();
    StateRecord& record = *owner_record.states;
    record.entries.clear();
    record.wide_ids.clear();
    if (any) {
      // As states(true) merges them: own names first, then nearer sources.
      std::map<std::string_view, DAttribute*> merged;
      add_own_states(attribute, merged);
      std::map<std::string_view, DAttribute*> own;
      for (const DAttribute* source : sources) {
        own.clear();
        add_own_states(*source, own);
        for (const auto& entry : own) merged.emplace(entry.first, entry.second);
      }
      if (reused != nullptr && (reused->states_flags & kStateEntries) != 0) {
        for (const StateEntry& entry : reused->impl->states->entries) {
          merged.emplace(entry.state->object_name(), entry.state);
        }
      }
      record.entries.reserve(merged.size());
      for (auto& [name, state] : merged) add_state_entry(record, state, name, tree.conditions);
      if (!record.entries.empty()) flags |= kStateEntries;
    }
    record.foreign_generations = std::move(foreign);
    if (!record.foreign_generations.empty()) flags |= kForeignTrees;
  }
  attribute.states_flags = flags;
  attribute.states_checked_at = tree.generation;
  attribute.states_tree = &tree;
}

DAttribute* DAttribute::state(const std::vector<std::string>& active) {
  if (!Impl::state_cache_fresh(*this)) Impl::rebuild_state_cache(*this);
  if ((states_flags & Impl::kStateEntries) == 0) return nullptr;
  const DConditionSet& active_set = states_tree->conditions.set_of(active);
  const Impl::StateRecord& record = *impl->states;
  const std::size_t entry_count = record.entries.size();
  DAttribute* best = nullptr;
  std::uint32_t best_count = 0;
  for (std::size_t i = 0; i < entry_count; ++i) {
    const Impl::StateEntry& entry = record.entries[i];
    // Only strictly more conditions can win, so a tie keeps the earlier name.
    if (entry.count <= best_count || (entry.mask & ~active_set.low) != 0) continue;
    const std::size_t wide_end =
        i + 1 < entry_count ? record.entries[i + 1].wide_start : record.wide_ids.size();
    bool all = true;
    for (std::size_t k = entry.wide_start; all && k < wide_end; ++k) {
      all = active_set.contains(record.wide_ids[k]);
    }
    if (!all) continue;
    best = entry.state;
    best_count = entry.count;
  }
  return best;
}

template <typename Hop, typename Looked>
DAttribute* DAttribute::Impl::answering(DAttribute& attribute,
                                        const std::vector<std::string>& active, const Hop& hop,
                                        const Looked& looked) {
  DAttribute* current = &attribute;
  while (true) {
    if (!active.empty()) {
      DAttribute* selected = current->state(active);
      looked(*current);
      if (selected != nullptr) {
        while (DAttribute* next = target_of(*selected)) {
          hop(*next);
          selected = next;
        }
        return selected;
      }
    }
    DAttribute* next = target_of(*current);
    if (next == nullptr) return current;
    hop(*next);
    current = next;
  }
}

const DValue& value_for(DAttribute& attribute, const std::vector<std::string>& active) {
  const auto nothing = [](const DAttribute&) {};
  return DAttribute::Impl::stored(
      *DAttribute::Impl::answering(attribute, active, nothing, nothing));
}

template <typename T>
const T* DAttribute::as_if(const std::vector<std::string>& active) {
  return std::get_if<T>(&value_for(*this, active));
}

DValueSource value_source(DAttribute& attribute, const std::vector<std::string>& active) {
  // A value read through a link is the target's to change, which may lie in
  // another tree; state entries may lead to another tree too.
  DValueKeep keep = DValueKeep::copy;
  const auto hop = [&](const DAttribute& next) {
    if (keep == DValueKeep::copy) keep = DValueKeep::reread;
    if (&tree_root(next) != &tree_root(attribute)) keep = DValueKeep::never;
  };
  const auto looked = [&](const DAttribute& asked) {
    if ((asked.states_flags & DAttribute::Impl::kForeignTrees) != 0) keep = DValueKeep::never;
  };
  DAttribute* source = DAttribute::Impl::answering(attribute, active, hop, looked);
  if (keep == DValueKeep::copy) source->states_flags |= DAttribute::Impl::kValueKept;
  return DValueSource{source, keep};
}

template <typename T>
T DAttribute::as(const std::vector<std::string>& active) {
  const T* found = as_if<T>(active);
  return found != nullptr ? *found : T{};
}

namespace {

// Up to this many children are searched in the list rather than indexed.
constexpr std::size_t kScannedStates = 8;

}  // namespace

DAttribute* find_own_state(const DAttribute& attribute, std::string_view name) {
  const auto& children = attribute.children();
  if (children.size() <= kScannedStates) {
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      DAttribute* state = as_attribute(it->get());
      if (state != nullptr && state->object_name() == name) return state;
    }
    return nullptr;
  }
  // The index is a cache of the child list, kept with the state entries,
  // which only attributes with states have.
  DAttribute::Impl& record = DAttribute::Impl::of(const_cast<DAttribute&>(attribute));
  if (!record.states) record.states = std::make_unique<DAttribute::Impl::StateRecord>();
  DNameIndex<DAttribute>& index = record.states->own_state_index;
  update_name_index(index, attribute.children_version(), attribute.child_renames(),
                    attribute.children(), true, [](DObject* child) { return as_attribute(child); });
  return index.find(name, hash_name(name), children.data());
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
