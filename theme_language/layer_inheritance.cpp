#include "theme_language/layer.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/layer_impl.h"
#include "theme_language/internal/load_limits.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/logger.h"
#include "theme_language/lookup.h"

namespace Drelm {

namespace {

// Names ordered by length first, so that only names of one length compare
// their bytes; the order only serves look-ups.
bool name_less(std::string_view a, std::string_view b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// A flat index of objects by name where a later object of a name wins, as
// insert_or_assign into a map would have it, without a node per entry.
template <typename T>
struct NameIndexEntry {
  std::string_view name;
  std::size_t at;
  T* object;
  bool inherits = false;
};

DAttribute* attribute_of(DObject* object) { return as_attribute(object); }
DLayer* layer_of(DObject* object) { return as_layer(object); }

// Indexes the children of `layer` that `cast` accepts, read in place.
template <typename T, typename Cast>
std::vector<NameIndexEntry<T>> index_by_name(const DLayer& layer, Cast cast) {
  const auto& children = layer.DObject::children();
  std::vector<NameIndexEntry<T>> index;
  index.reserve(children.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (T* object = cast(children[i].get()))
      index.push_back(NameIndexEntry<T>{object->object_name(), i, object});
  }
  std::sort(index.begin(), index.end(), [](const auto& a, const auto& b) {
    return a.name != b.name ? name_less(a.name, b.name) : a.at < b.at;
  });
  // Of each run of one name the last, the latest in child order, stays.
  auto out = index.begin();
  for (auto it = index.begin(); it != index.end(); ++it) {
    const auto next = std::next(it);
    if (next != index.end() && next->name == it->name) continue;
    *out++ = *it;
  }
  index.erase(out, index.end());
  return index;
}

template <typename T>
NameIndexEntry<T>* find_by_name(std::vector<NameIndexEntry<T>>& index, std::string_view name) {
  // A derived layer mostly sets a handful of names: a scan comparing lengths
  // first is cheaper there than a search.
  if (index.size() <= 8) {
    for (auto& entry : index) {
      if (entry.name.size() == name.size() && entry.name == name) return &entry;
    }
    return nullptr;
  }
  const auto found = std::lower_bound(index.begin(), index.end(), name,
                                      [](const NameIndexEntry<T>& entry, std::string_view key) {
                                        return name_less(entry.name, key);
                                      });
  return found != index.end() && found->name == name ? &*found : nullptr;
}

// attribute.states(true) as a list in its order, each name once, without
// building the map: the same walk, where of one name the own state wins, the
// nearer base next, and within one attribute the later child.
// Which G the covered chains are checked against: a merge's own raises leave
// them as they were until a chain changes.
struct CoverWindow {
  bool trusted = true;
  const DTreeStates* merging = nullptr;
  std::uint32_t since = 0;
};

bool covers(const DLayer& layer, const CoverWindow& window) {
  return window.trusted && DLayerAccess::states_cover_chain(layer, window.merging, window.since);
}

void states_into(const DAttribute& attribute, std::vector<DStateEntry>& out,
                 const CoverWindow& window) {
  out.clear();
  const auto add_own = [&out](const DAttribute& holder, std::size_t level) {
    const auto& children = holder.children();
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (DAttribute* state = as_attribute(children[i].get()))
        out.push_back(DStateEntry{state->object_name(), level, i, state});
    }
  };
  add_own(attribute, 0);
  // Where a merge left an attribute holding a state of every name its chain
  // holds, the rest of the chain only adds states that lose to its own.
  DLayer* const holder = as_layer(attribute.parent());
  const bool covered = holder != nullptr && covers(*holder, window) &&
                       holder->find_attribute(attribute.object_name()) == &attribute;
  // A base met again in a looping chain adds its states once more, at a
  // further level, where they lose to the first.
  std::size_t level = 0;
  if (!covered) {
    for_each_state_source(
        attribute,
        [&](const DAttribute& inherited_from) {
          add_own(inherited_from, ++level);
          // Found by its name in its layer, as the walk finds it.
          return !covers(*as_layer(inherited_from.parent()), window);
        },
        [](const DLayer&) {});
  }
  if (out.size() < 2) return;
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    if (a.name != b.name) return a.name < b.name;
    return a.level != b.level ? a.level < b.level : a.position > b.position;
  });
  // The first of each run of one name wins.
  auto kept = out.begin();
  for (auto it = std::next(out.begin()); it != out.end(); ++it) {
    if (it->name != kept->name) *++kept = *it;
  }
  out.erase(std::next(kept), out.end());
}

bool has_state_named(const std::vector<DStateEntry>& states, std::string_view name) {
  const auto found =
      std::lower_bound(states.begin(), states.end(), name,
                       [](const auto& entry, std::string_view key) { return entry.name < key; });
  return found != states.end() && found->name == name;
}

// The decisions of merging `base` into `derived`, in one place for the merge
// and for its dry run, which counts what the merge would create. `pass` makes
// each copy the walk decides on, or counts it; a step that returns false ends
// the walk, which then returns false.
//   reserve(count): before the first copy, with the base's child count;
//   copy_attribute(source, parent): a copy of an attribute or state;
//   inherit_value(own, inherited): an own attribute met by an inherited one;
//   merge_nested(inherited, own): a child layer of both, merged in turn;
//   copy_layer(source, parent): a copy of a child layer the derived lacks;
//   finish(base_layers): the child layers of the base, as walked.
// The indexes are taken before anything is added; a later name wins. Their
// keys view the children's names: nothing here runs a callback that could
// rename or destroy a child.
template <typename Pass>
bool walk_merge(const DLayer& base, DLayer& derived, Pass& pass) {
  auto own_attributes = index_by_name<DAttribute>(derived, attribute_of);
  auto own_layers = index_by_name<DLayer>(derived, layer_of);

  // Read in place: the copies land outside the base, so its list only stays
  // or grows, and an index reads it afresh each time.
  const auto& base_children = base.DObject::children();
  const std::size_t base_count = base_children.size();
  pass.reserve(base_count);
  for (std::size_t i = 0; i < base_count; ++i) {
    DAttribute* inherited = as_attribute(base_children[i].get());
    if (inherited == nullptr) continue;
    auto* own = find_by_name(own_attributes, inherited->object_name());
    if (own == nullptr) {
      if (!pass.copy_attribute(*inherited, &derived)) return false;
      continue;
    }
    pass.inherit_value(*own, *inherited);
    // Where the derived layer's base is this one and the inherited attribute
    // is the one its name finds there, the own attribute's states already take
    // in every inherited one, its chain passing the inherited attribute's:
    // there is nothing to copy, and neither chain needs a walk.
    // (The look-up only brings the base's name index up to date.)
    if (derived.base() == &base &&
        const_cast<DLayer&>(base).find_attribute(inherited->object_name()) == inherited) {
      continue;
    }
    states_into(*inherited, pass.inherited_states, pass.window());
    if (pass.inherited_states.empty()) continue;
    // A clone adds only its own name to the attribute's states, and the names
    // walked are distinct, so one index taken first answers every check. The
    // lists view names of states that the clones leave in place.
    states_into(*own->object, pass.own_states, pass.window());
    for (const DStateEntry& entry : pass.inherited_states) {
      if (has_state_named(pass.own_states, entry.name)) continue;
      if (!pass.copy_attribute(*entry.state, own->object)) return false;
    }
  }

  const std::vector<DLayer*> base_layers = base.children();
  pass.begin_layers(base_layers.size() + own_layers.size());
  for (DLayer* inherited : base_layers) {
    const auto* found = find_by_name(own_layers, inherited->object_name());
    const bool go_on = found != nullptr ? pass.merge_nested(*inherited, *found->object)
                                        : pass.copy_layer(*inherited, &derived);
    if (!go_on) return false;
  }
  pass.finish(base_layers);
  return true;
}

// The dry run of walk_merge: what Impl::merge_from(base, derived) would
// create, counted without creating anything, saturated at `cap`.
struct CountingMerge {
  explicit CountingMerge(std::size_t cap) : cap(cap) {}

  std::size_t cap;
  std::size_t count = 0;
  std::vector<DStateEntry> inherited_states;
  std::vector<DStateEntry> own_states;

  bool add(std::size_t objects) {
    count = objects >= cap - count ? cap : count + objects;
    return count < cap;
  }
  // A dry run changes nothing: each tree's counter as it stands.
  CoverWindow window() const { return CoverWindow{}; }
  void reserve(std::size_t) {}
  bool copy_attribute(const DAttribute& source, DObject*) {
    return add(1 + count_copies(source, cap - count));
  }
  void inherit_value(NameIndexEntry<DAttribute>&, const DAttribute&) {}
  void begin_layers(std::size_t) {}
  bool merge_nested(const DLayer& inherited, DLayer& own) {
    return walk_merge(inherited, own, *this);
  }
  bool copy_layer(const DLayer& source, DObject*) {
    return add(1 + count_copies(source, cap - count));
  }
  void finish(const std::vector<DLayer*>&) {}
};

// What Impl::merge_from(base, derived) would create, saturated past `limit`.
std::size_t count_merge(const DLayer& base, DLayer& derived, std::size_t limit) {
  CountingMerge counting(limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1);
  walk_merge(base, derived, counting);
  return counting.count;
}

}  // namespace

// The layer is left as if it had been declared without a base, so that
// neither its kind nor its states come through half; the log keeps the
// reference.
void DLayer::Impl::refuse_base(DLayer& layer, const std::string& reason) {
  log("engine: " + layer.path() + ": Failed to apply base `" + layer.base_path() + "` because " +
      reason + "; the layer inherits nothing.");
  set_base(layer, nullptr, false);
  raise_tree_generation(layer);
  layer.set_base_path("");
}

bool DLayer::Impl::chain_of(const DLayer& layer, const DLayer*& end, std::size_t& length) {
  const DTreeStates* tree = &tree_states(layer);
  const auto fresh = [tree](const Impl& impl) {
    return impl.chain && impl.chain->end != nullptr && impl.chain->tree == tree &&
           impl.chain->stamp == tree->bases;
  };
  if (fresh(*layer.impl)) {
    end = layer.impl->chain->end;
    length = layer.impl->chain->length;
    return true;
  }
  // Up to the first link whose answer is kept, then every link walked keeps
  // one: each link is walked once for as long as the chain stays.
  std::vector<const DLayer*> walked;
  const DLayer* saved = &layer;
  std::size_t steps = 0;
  std::size_t span = 1;
  length = 0;
  for (const DLayer* link = &layer;;) {
    const Impl& impl = *link->impl;
    if (fresh(impl)) {
      end = impl.chain->end;
      length = impl.chain->length;
      break;
    }
    walked.push_back(link);
    if (impl.base == nullptr) {
      end = link;
      break;
    }
    if (impl.base_elsewhere) return false;
    link = impl.base;
    // A loop is met again as walk_base_chain meets it.
    if (link == saved) return false;
    if (++steps == span) {
      saved = link;
      span *= 2;
      steps = 0;
    }
  }
  if (length + walked.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  for (auto it = walked.rbegin(); it != walked.rend(); ++it) {
    Impl& impl = *(*it)->impl;
    if (!impl.chain) impl.chain = std::make_unique<Chain>();
    *impl.chain = Chain{end, tree, static_cast<std::uint32_t>(++length), tree->bases};
  }
  return true;
}

bool DLayer::Impl::on_chain(const DLayer* first, const DLayer* link) {
  if (first == link) return true;
  // Only a layer that another names as its base can follow on a chain.
  if (link->impl->derived.empty()) return false;
  const DLayer* first_end = nullptr;
  const DLayer* link_end = nullptr;
  std::size_t first_length = 0;
  std::size_t link_length = 0;
  if (!chain_of(*first, first_end, first_length) || !chain_of(*link, link_end, link_length)) {
    return walk_base_chain(first, [link](const DLayer* step) { return step == link; });
  }
  // On the chain, the link lies that many steps from the first.
  if (first_end != link_end || link_length >= first_length) return false;
  const DLayer* at = first;
  for (std::size_t steps = first_length - link_length; steps > 0; --steps) at = at->impl->base;
  return at == link;
}

// Asked of every layer, twice or more: from the kept chains, without a walk
// of them.
bool DLayer::Impl::accepts_base(const DLayer* layer, const DLayer* candidate) {
  if (candidate == nullptr) return false;
  return find_up(layer, [candidate](const DLayer* up) { return on_chain(candidate, up); }) ==
         nullptr;
}

void DLayer::Impl::set_base(DLayer& layer, DLayer* base, bool elsewhere) {
  Impl& own = *layer.impl;
  // The chains that pass through this layer change with it.
  if (own.chain) own.chain->end = nullptr;
  if (!own.derived.empty() && own.base != base) ++tree_states(layer).bases;
  if (own.base != nullptr) {
    // Swapped with the last, so that leaving costs the same however many stay.
    std::vector<DLayer*>& list = own.base->impl->derived;
    DLayer* last = list.back();
    list[own.derived_slot] = last;
    last->impl->derived_slot = own.derived_slot;
    list.pop_back();
  }
  own.base = nullptr;
  own.base_elsewhere = false;
  if (base == nullptr) return;
  std::vector<DLayer*>& list = base->impl->derived;
  list.push_back(&layer);
  own.derived_slot = static_cast<std::uint32_t>(list.size() - 1);
  own.base = base;
  own.base_elsewhere = elsewhere;
}

void DLayer::Impl::forget_derived(DLayer& layer) {
  // Each forgets it as a base that never resolved would be: the path stays.
  // Their trees' counters rise, as for any change of a base: this one's once
  // for all that lie in it, another's for each that may lie there.
  const std::vector<DLayer*> derived = std::move(layer.impl->derived);
  layer.impl->derived.clear();
  bool here = false;
  for (DLayer* other : derived) {
    const bool elsewhere = other->impl->base_elsewhere;
    other->impl->base = nullptr;
    other->impl->base_elsewhere = false;
    if (other->impl->chain) other->impl->chain->end = nullptr;
    if (!other->impl->derived.empty()) ++tree_states(*other).bases;
    if (elsewhere) {
      raise_tree_generation(*other);
    } else {
      here = true;
    }
  }
  if (here) raise_tree_generation(layer);
}

bool DLayerAccess::states_cover_chain(const DLayer& layer, const DTreeStates* merging,
                                      std::uint32_t since) {
  const DLayer::Impl& impl = *layer.impl;
  if (!impl.chain || !impl.chain->covered) return false;
  // Only for chains within one tree, whose counter sees every change of them.
  const DLayer* end = nullptr;
  std::size_t length = 0;
  if (!DLayer::Impl::chain_of(layer, end, length)) return false;
  const DTreeStates& tree = tree_states(layer);
  return impl.chain->covered &&
         impl.chain->covered_at == (&tree == merging ? since : tree.generation);
}

bool DLayerAccess::base_may_lie_elsewhere(const DLayer& layer) {
  return layer.impl->base_elsewhere;
}

bool base_may_lie_elsewhere(const DLayer& layer) {
  return DLayerAccess::base_may_lie_elsewhere(layer);
}

void DLayer::resolve_bases() {
  // In tree order, with a stack of its own: a tree may be as deep as calls
  // make it. Nothing here changes a child list.
  std::vector<DLayer*> pending{this};
  while (!pending.empty()) {
    DLayer* const layer = pending.back();
    pending.pop_back();
    Impl& own = *layer->impl;
    if (own.base == nullptr && !own.base_path.empty()) {
      // The own namespace first, so a namespace may shadow a top-level name.
      DLayer* candidate = layer->namespace_root()->find_layer(own.base_path);
      if (!Impl::accepts_base(layer, candidate))
        candidate = layer->root()->find_layer(own.base_path);
      if (Impl::accepts_base(layer, candidate)) {
        // Found from this layer's own root: the same tree.
        Impl::set_base(*layer, candidate, false);
        raise_tree_generation(*layer);
      }
    }
    const std::vector<DLayer*>& children = child_layers_of(*layer);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

void DLayer::finalize() {
  const DOperation operation(*this);
  DLoadBudget unbounded;
  Impl::finalize(*this, unbounded);
}

void finalize_in_load(DLayer& layer, DLoadBudget& budget) { DLayer::Impl::finalize(layer, budget); }

void DLayer::Impl::finalize(DLayer& layer, DLoadBudget& budget) {
  // Bases are finalized first, then children, each before the layer itself:
  // a frame per layer on a stack of its own, as chains of bases and trees may
  // be as long and deep as calls make them. budget.nesting counts the frames.
  struct Frame {
    DLayer* layer;
    int stage = 0;
    std::vector<DLayer*> children;
    std::size_t next = 0;
  };
  std::vector<Frame> frames;
  struct Restore {
    std::size_t& nesting;
    std::size_t entered;
    ~Restore() { nesting = entered; }  // also when a merge throws
  } restore{budget.nesting, budget.nesting};
  const auto enter = [&](DLayer& next) {
    if (next.finalizing || next.finalized) return false;
    next.finalizing = true;
    frames.push_back(Frame{&next, 0, {}, 0});
    ++budget.nesting;
    return true;
  };
  enter(layer);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    DLayer& current = *frame.layer;
    // Read anew at each stage: a callback may destroy the base, which then
    // leaves it null.
    DLayer* const& base = current.impl->base;
    if (frame.stage == 0) {
      frame.stage = 1;
      if (base != nullptr) {
        // A base still finalizing has a frame below this one: inheriting from
        // it would merge a half-built layer, so nothing is inherited.
        if (base->finalizing) {
          set_base(current, nullptr, false);
          raise_tree_generation(current);
        } else if (!base->finalized) {
          if (budget.nesting > kMaxFinalizeNesting) {
            refuse_base(current, "bases lead through more than " +
                                     std::to_string(kMaxFinalizeNesting) + " layers");
          } else if (enter(*base)) {
            continue;
          }
        }
      }
    }
    if (frame.stage == 1) {
      frame.stage = 2;
      frame.children = current.children();
    }
    // A callback may destroy the layer, or a child before its turn.
    bool entered = false;
    while (!entered && frame.next < frame.children.size() && !dead(current)) {
      DLayer& child = *frame.children[frame.next++];
      if (!dead(child)) entered = enter(child);
    }
    if (entered) continue;
    if (dead(current)) {
      current.finalizing = false;
      frames.pop_back();
      --budget.nesting;
      continue;
    }
    // However the base was set (a copy keeps its original's), it must not lead
    // back to the layer or to one containing it, or the merge would copy the
    // layer into itself: it is refused as resolve_bases refuses it.
    if (base != nullptr && !accepts_base(&current, base)) {
      set_base(current, nullptr, false);
      raise_tree_generation(current);
    }
    if (base != nullptr) merge_within(*base, current, budget);
    current.finalizing = false;
    current.finalized = true;
    frames.pop_back();
    --budget.nesting;
  }
}

void DLayer::Impl::merge_within(DLayer& base, DLayer& derived, DLoadBudget& budget) {
  const auto too_deep = [&](const DSubtreeSize& size) {
    if (layer_depth(&derived) + size.height <= kMaxLayerDepth) return false;
    refuse_base(derived,
                "the layers would nest deeper than " + std::to_string(kMaxLayerDepth) + " levels");
    return true;
  };
  const auto too_large = [&](std::size_t remaining) {
    refuse_base(derived, "it would copy more than " + std::to_string(remaining) +
                             " objects, out of proportion to the " +
                             std::to_string(budget.bytes_read()) + " bytes of source read");
  };
  // The texts below the base bound what the copies hold of their own; each
  // is copied or handed over at most once.
  const auto too_much_text = [&](const DSubtreeSize& size) {
    if (size.bytes <= budget.remaining_bytes()) return false;
    refuse_base(derived, "it would copy more than " + std::to_string(budget.remaining_bytes()) +
                             " bytes of text, out of proportion to the " +
                             std::to_string(budget.bytes_read()) + " bytes of source read");
    return true;
  };
  const bool childless = derived.DObject::children().empty();
  if (childless && budget.known_too_large(&base)) {
    too_large(budget.remaining());
    return;
  }
  // Everything below the base is an upper estimate of the copies, cheap to
  // take; they are counted exactly only near the bound.
  const DSubtreeSize size = measure_subtree(&base, budget.remaining());
  if (too_deep(size)) return;
  if (size.complete && size.objects <= budget.remaining()) {
    if (too_much_text(size)) return;
    const bool exact = budget.exact();
    const std::size_t copies =
        budget.bounded() && exact ? count_merge(base, derived, size.objects) : size.objects;
    merge_from(&base, &derived);
    budget.charge(copies, exact);
    budget.charge_bytes(size.bytes);
    return;
  }
  budget.make_exact();
  const std::size_t remaining = budget.remaining();
  const std::size_t copies = count_merge(base, derived, remaining);
  if (copies > remaining) {
    if (childless) budget.remember_too_large(base);
    too_large(remaining);
    return;
  }
  const DSubtreeSize whole = size.complete ? size : measure_subtree(&base);
  if (too_deep(whole) || too_much_text(whole)) return;
  merge_from(&base, &derived);
  budget.charge(copies, true);
  budget.charge_bytes(whole.bytes);
}

void DLayer::Impl::merge_from(DLayer* base, DLayer* derived) {
  const DOperation operation(*derived);
  Merge merge;
  merge.place = copy_place(*base, *derived);
  merge.tree = &tree_states(*derived);
  merge.generation_at_start = merge.tree->generation;
  Merge::Frame top{nullptr, derived};
  merge_layer(base, derived, merge, top);
  // The copies left the tree's counter as it was; the callbacks may read it.
  raise_tree_generation(*derived);
  if (!merge.chains_changed) {
    for (const auto& [layer, given] : merge.covering) {
      const DLayer* end = nullptr;
      std::size_t length = 0;
      if (layer->impl->base != given || !chain_of(*layer, end, length)) continue;
      layer->impl->chain->covered = true;
      layer->impl->chain->covered_at = tree_states(*layer).generation;
    }
  }
  merge.hand_over();
}

void DLayer::Impl::merge_layer(DLayer* base, DLayer* derived, Merge& merge, Merge::Frame& frame) {
  // Makes the copies that walk_merge decides on and records the values to
  // hand over.
  struct MakingMerge {
    Merge& merge;
    Merge::Frame& frame;
    DLayer* derived;
    std::vector<DStateEntry>& inherited_states;
    std::vector<DStateEntry>& own_states;
    std::vector<DObject*> order;
    std::vector<DAttribute*> met;

    CoverWindow window() const {
      return CoverWindow{!merge.chains_changed, merge.tree, merge.generation_at_start};
    }
    void reserve(std::size_t base_count) {
      // Each child of the base adds at most one: the list grows once, not by
      // doubling as the copies arrive.
      reserve_children(*derived, derived->DObject::children().size() + base_count);
    }
    bool copy_attribute(const DAttribute& source, DObject* parent) {
      // A copy on a layer that a chain passes changes what the chain holds:
      // the covered chains are then no longer trusted.
      if (!merge.chains_changed && passed_by_chains(*derived)) {
        merge.chains_changed = true;
        raise_tree_generation(*derived);
      }
      clone_attribute(source, parent, merge.place);
      return true;
    }
    void inherit_value(NameIndexEntry<DAttribute>& own, const DAttribute& inherited) {
      met.push_back(own.object);
      // A value or link of the derived declaration always wins, and of several
      // base attributes of one name the first that has one.
      if (own.inherits || !std::holds_alternative<std::monostate>(own.object->value()) ||
          own.object->link() != nullptr) {
        return;
      }
      const DLink* link = inherited.link();
      if (link != nullptr && !link->path.empty()) {
        own.inherits = true;
        merge.add_value(frame, own.object, link->path, true);  // bound later, in this context
      } else if (link == nullptr && !std::holds_alternative<std::monostate>(inherited.value())) {
        own.inherits = true;
        // Names are shared exactly where the counts allow values to be.
        DSharedValue shared = merge.place.share_names ? shared_value_of(inherited) : DSharedValue();
        if (shared) {
          merge.add_shared(frame, own.object, std::move(shared));
        } else {
          merge.add_value(frame, own.object, inherited.value(), false);
        }
      }
    }
    void begin_layers(std::size_t count) { order.reserve(count); }
    bool merge_nested(DLayer& inherited, DLayer& own) {
      Merge::Frame nested{&frame, &own};
      merge_layer(&inherited, &own, merge, nested);
      order.push_back(&own);
      return true;
    }
    bool copy_layer(const DLayer& source, DObject* parent) {
      clone_into(source, parent, merge.place);
      order.push_back(parent->children().back().get());
      return true;
    }
    void finish(const std::vector<DLayer*>& base_layers) {
      std::vector<std::string_view> base_names;
      base_names.reserve(base_layers.size());
      for (const DLayer* inherited : base_layers) base_names.push_back(inherited->object_name());
      std::sort(base_names.begin(), base_names.end(), name_less);
      for (const auto& child : derived->DObject::children()) {
        DLayer* layer = as_layer(child.get());
        if (layer != nullptr && !std::binary_search(base_names.begin(), base_names.end(),
                                                    layer->object_name(), name_less))
          order.push_back(layer);
      }
      derived->reorder_children(order);
      // The indexes made while loading no longer fit the merged child list.
      derived->impl->drop_stale_indexes(*derived);
    }
  } making{merge, frame, derived, merge.inherited_states, merge.own_states, {}, {}};
  // Without a base of its own, the layer's attributes got a copy of every
  // state their inherited namesakes hold along the base's chain; once the base
  // is given, they hold a state of every name their new chain holds, if the
  // base's attributes did: those of a base without a base, or of a covered one.
  const bool may_cover =
      derived->impl->base == nullptr &&
      (base->impl->base == nullptr ||
       (!merge.chains_changed &&
        DLayerAccess::states_cover_chain(*base, merge.tree, merge.generation_at_start)));
  walk_merge(*base, *derived, making);

  // Gives a nested layer without a base of its own the base's same-named child,
  // unless that child already leads back here: a looping base chain would never
  // end for anything that follows it.
  if (derived->impl->base == nullptr && !on_chain(base, derived)) {
    // The chains that end here go on through the base now.
    if (passed_by_chains(*derived)) merge.chains_changed = true;
    set_base(*derived, base, !merge.place.share_names);
    raise_tree_generation(*derived);
    if (may_cover && std::all_of(making.met.begin(), making.met.end(), [derived](DAttribute* own) {
          return derived->find_attribute(own->object_name()) == own;
        })) {
      merge.covering.emplace_back(derived, base);
    }
  }
}

void DLayer::Impl::Merge::add_value(Frame& frame, DAttribute* attribute, DValue value, bool link) {
  const std::size_t layer = record(frame);
  values.push_back(Value{layer, attribute, attribute, std::move(value), DSharedValue(), link});
}

void DLayer::Impl::Merge::add_shared(Frame& frame, DAttribute* attribute, DSharedValue value) {
  const std::size_t layer = record(frame);
  values.push_back(Value{layer, attribute, attribute, DValue(), std::move(value), false});
}

std::size_t DLayer::Impl::Merge::record(Frame& frame) {
  if (frame.record == kNone) {
    const std::size_t parent = frame.outer != nullptr ? record(*frame.outer) : kNone;
    layers.push_back(Layer{frame.derived, frame.derived, parent, 0});
    frame.record = layers.size() - 1;
  }
  return frame.record;
}

void DLayer::Impl::Merge::hand_over() {
  if (values.empty()) return;
  // Every copy and move is done; from here on only callbacks change the
  // layers, and their operation keeps what they destroy in memory.
  for (const Value& entry : values) {
    if (dead(*entry.attribute)) continue;
    DAttribute* own = entry.attribute;
    // A callback may have given it a value or link meanwhile; that one wins.
    if (!std::holds_alternative<std::monostate>(own->value()) || own->link() != nullptr) continue;
    if (entry.link) {
      own->create_link(std::get<std::string>(entry.value));
    } else if (entry.shared) {
      set_shared_value(*own, entry.shared);
    } else {
      own->set_value(entry.value);
    }
  }
}

void DLayer::clone_to(DObject* parent) const {
  const DOperation operation(*parent);
  Impl::clone_into(*this, parent, copy_place(*this, *parent));
  raise_tree_generation(*parent);
}

void DLayer::Impl::clone_into(const DLayer& source, DObject* parent, const DCopyPlace& place) {
  // A copy placed inside this layer would be copied again with its children,
  // its copy too, and so on: then the copy is made aside first, while it
  // cannot land there, and copied in its turn. Most parents lie outside, and
  // a layer without children can only hold a copy placed in itself.
  if (parent == &source || !source.DObject::children().empty()) {
    if (find_up(parent, [&source](const DObject* up) { return up == &source; }) != nullptr) {
      DObject aside;
      const DLayer* copy = copy_tree(source, &aside, DCopyPlace{});
      copy_tree(*copy, parent, DCopyPlace{false, place.pool});
      return;
    }
  }
  copy_tree(source, parent, place);
}

DLayer* DLayer::Impl::copy_tree(const DLayer& source, DObject* parent, const DCopyPlace& place) {
  // Each layer with its attributes, then its child layers in order, each with
  // its subtree: on a stack of its own, as a tree may be as deep as calls make
  // it. The copy lies outside the source, so its child lists stay as they are.
  DLayer* top = nullptr;
  std::vector<std::pair<const DLayer*, DObject*>> pending{{&source, parent}};
  while (!pending.empty()) {
    const auto [original, into] = pending.back();
    pending.pop_back();
    DLayer* copy;
    if (place.share_names) {
      auto made = make_pooled<DLayer>(place.pool);
      share_name(*made, *original);
      copy = made.get();
      append_copy(*into, std::move(made));
    } else {
      auto made = make_pooled<DLayer>(place.pool, original->object_name());
      copy = made.get();
      append_copy(*into, std::move(made));
    }
    if (top == nullptr) top = copy;
    // Names are shared only within one tree: then the copy's base lies where
    // its original's does.
    set_base(*copy, original->impl->base, original->impl->base_elsewhere || !place.share_names);
    copy->impl->base_path = original->impl->base_path;
    copy->finalized = original->finalized;
    const auto& children = original->DObject::children();
    reserve_children(*copy, children.size());
    for (const auto& child : children) {
      if (child->kind() == DKind::ATTRIBUTE)
        clone_attribute(*static_cast<const DAttribute*>(child.get()), copy, place);
    }
    const std::size_t first = pending.size();
    for (const auto& child : children) {
      if (child->kind() == DKind::LAYER)
        pending.emplace_back(static_cast<const DLayer*>(child.get()), copy);
    }
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
  }
  return top;
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
