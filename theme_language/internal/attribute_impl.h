#pragma once

// Private record of DAttribute, shared by the read side (attribute.cpp) and
// the write side (attribute_links.cpp). Not part of the library's interface.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/connections.h"
#include "theme_language/internal/name_index.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/shared_value.h"
#include "theme_language/internal/tree_states.h"
#include "theme_language/object.h"

namespace Drelm {

struct DAttribute::Impl {
  // The conditions are the pieces of the state's name as ids of the tree's
  // condition table: those below 64 as bits of `mask`, the rest in the
  // record's wide_ids from `wide_start` up to the next entry's start.
  struct StateEntry {
    DAttribute* state = nullptr;
    std::uint64_t mask = 0;
    // Pieces of the name, repeats included: they rank the matches.
    std::uint32_t count = 0;
    std::uint32_t wide_start = 0;
  };

  // Shared, so that a call keeps its callable alive when the callback
  // disconnects itself, without copying it: a callable's own state persists
  // from one notification to the next.
  using Callbacks = std::map<DConnectionID, std::shared_ptr<std::function<void()>>>;

  static constexpr std::uint8_t kStateEntries = 1;
  static constexpr std::uint8_t kForeignTrees = 2;
  // These outlive the rebuilds of the state entries, which reset the others.
  static constexpr std::uint8_t kValueKept = 4;
  static constexpr std::uint8_t kSharedValue = 8;
  static constexpr std::uint8_t kValueFlags = kValueKept | kSharedValue;

  // Tells a running write or notification whether the record it works on
  // still exists: a callback may destroy the attribute whose change it
  // reports, or one that the walk is about to visit. The record's destructor
  // clears every watch on it. Watches are linked in place and may be moved
  // (with the frames of a walk); they cost no allocation.
  class Watch {
   public:
// The record keeps the address of a watch on the stack until the watch's
// destructor takes it out again, which g++ cannot follow.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
    explicit Watch(Impl& watched) noexcept
        : record(&watched), next(watched.watches), prev(&watched.watches) {
      if (next != nullptr) next->prev = &this->next;
      watched.watches = this;
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    Watch(Watch&& other) noexcept : record(other.record), next(other.next), prev(other.prev) {
      if (prev != nullptr) *prev = this;
      if (next != nullptr) next->prev = &this->next;
      other.record = nullptr;
      other.next = nullptr;
      other.prev = nullptr;
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    Watch& operator=(Watch&&) = delete;
    ~Watch() {
      if (prev == nullptr) return;
      *prev = next;
      if (next != nullptr) next->prev = prev;
    }
    // The record, or null once its attribute is destroyed.
    Impl* alive() const { return record != nullptr && !dead(*record->owner) ? record : nullptr; }

   private:
    friend struct Impl;
    Impl* record;
    Watch* next;
    Watch** prev;
  };

  explicit Impl(DAttribute* owner) : owner(owner) {}
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    for (Watch* watch = watches; watch != nullptr;) {
      Watch* const next_watch = watch->next;
      watch->record = nullptr;
      watch->next = nullptr;
      watch->prev = nullptr;
      watch = next_watch;
    }
  }

  // The record of `attribute`, made when it has none yet.
  static Impl& of(DAttribute& attribute) {
    if (!attribute.impl) attribute.impl = std::make_unique<Impl>(&attribute);
    return *attribute.impl;
  }
  static const std::optional<DLink>* link_of(const DAttribute& attribute) {
    return attribute.impl ? &attribute.impl->link : nullptr;
  }
  // The resolved link target, or null.
  static DAttribute* target_of(const DAttribute& attribute) {
    return attribute.impl && attribute.impl->link ? attribute.impl->link->target : nullptr;
  }
  static bool linked(const DAttribute& attribute) {
    return attribute.impl && attribute.impl->link.has_value();
  }
  // The attribute's own value, wherever it is held.
  static const DValue& stored(const DAttribute& attribute) {
    return (attribute.states_flags & kSharedValue) != 0 ? attribute.impl->shared_value.value()
                                                        : attribute.own_value;
  }
  // What a copy in the same tree would hold of its own: the link path, or
  // the value's text unless it is shared. Asked of every object that a base
  // would copy, so read in place.
  // A copy of a linked attribute takes only the link path, whatever its own
  // value still holds; a shared value is held outside own_value.
  static std::size_t own_text_bytes(const DAttribute& attribute) {
    if (attribute.impl && attribute.impl->link) return attribute.impl->link->path.size();
    const std::string* text = std::get_if<std::string>(&attribute.own_value);
    return text != nullptr ? text->size() : 0;
  }
  // Replaces the own value; a long text gets a record of its own, which
  // copies of the attribute in its tree then share.
  static void store(DAttribute& attribute, DValue value);
  // REQUIRES: the record is shared only within the attribute's tree.
  static void store_shared(DAttribute& attribute, const DSharedValue& value);

  DAttribute* owner;
  // In registration order. A dependent that leaves is nulled in place and the
  // list compacted once half of it is vacant: thousands of attributes link to
  // the same few, and erasing each one on the way out would be quadratic.
  std::vector<DAttribute*> dependents;
  std::size_t vacant_dependents = 0;
  std::size_t dependents_version = 0;
  // Where this attribute stands in its link target's dependents; an attribute
  // is registered with its target only, and once.
  std::size_t dependent_slot = 0;
  std::optional<DLink> link;
  struct CallbackLists {
    DConnectionID next_change_id;
    Callbacks change_callbacks;
    DConnectionID next_link_change_id;
    Callbacks link_change_callbacks;
  };
  struct StateRecord {
    std::vector<StateEntry> entries;
    std::vector<std::uint32_t> wide_ids;
    // Counters of other trees that the entries depend on, with their values
    // then: a base copied from another tree still leads there.
    std::vector<std::pair<const std::uint32_t*, std::uint32_t>> foreign_generations;
    // Own states by name, of one name the last in child order; made only for
    // attributes with many states, which a load would otherwise search once
    // per state added.
    DNameIndex<DAttribute> own_state_index;
  };
  // Each made on first use: a linked attribute needs neither.
  std::unique_ptr<CallbackLists> callbacks;
  std::unique_ptr<StateRecord> states;
  // The running writes and walks that hold this record; see Watch.
  Watch* watches = nullptr;
  // The own value while kSharedValue is set.
  DSharedValue shared_value;

  CallbackLists& callback_lists() {
    if (!callbacks) callbacks = std::make_unique<CallbackLists>();
    return *callbacks;
  }
  void call_change() {
    if (callbacks) call_all(&CallbackLists::change_callbacks);
  }
  void call_link_change() {
    if (callbacks) call_all(&CallbackLists::link_change_callbacks);
  }

  // Read side.
  static bool state_cache_fresh(const DAttribute& attribute) {
    return attribute.states_tree != nullptr &&
           attribute.states_tree->generation == attribute.states_checked_at &&
           ((attribute.states_flags & kForeignTrees) == 0 || attribute.impl->foreign_fresh());
  }
  bool foreign_fresh() const;
  // The walk of as_if: the attribute whose own value answers for `active`. A
  // state's own states are not consulted: it answers with its chain's end.
  // `hop` hears of every link followed, `looked` of every attribute whose
  // states were looked at. Defined beside its users in attribute.cpp.
  template <typename Hop, typename Looked>
  static DAttribute* answering(DAttribute& attribute, const std::vector<std::string>& active,
                               const Hop& hop, const Looked& looked);
  static void rebuild_state_cache(DAttribute& attribute);
  // The entries of `attribute` alone, taking those of the first source along
  // its chain whose entries are good for the rest of it.
  static void rebuild_one_state_cache(DAttribute& attribute);
  // Appends the entry of the state named `name`, its conditions interned in `table`.
  static void add_state_entry(StateRecord& record, DAttribute* state, std::string_view name,
                              DConditionTable& table);

  // Write side. REQUIRES for break_link: the attribute is linked.
  void break_link(bool notify);
  // Drops a link without callbacks or value copy: the one a callback made
  // while the link was being replaced or the attribute destroyed, which must
  // not stay registered with its target.
  void forget_link();
  // The own link only; DAttribute::resolve_links goes on to the states.
  void resolve_own_link();
  std::vector<DAttribute*> dependents_of(bool recursive) const;
  void notify_all();
  void update_link_dependencies();

  // Registration of `dependent` into this attribute's list, and every removal
  // attempt from it, raise dependents_version so running walks notice.
  void add_dependent(DAttribute* dependent);
  void remove_dependent(DAttribute* dependent);

  // Calls `step` on each dependent, then on that dependent's own dependents,
  // depth-first, over a snapshot that skips those that left the list meanwhile.
  // `step` runs the dependent's callbacks; without them it changes nothing.
  template <typename F>
  void for_each_dependent(const F& step) {
    if (dependents.empty()) return;
    // Link chains are as long as a file makes them: an explicit stack keeps
    // the walk off the call stack, visiting in the same depth-first order.
    // A step may destroy any attribute of the walk: a frame whose owner is
    // gone ends, as its dependents all left with it.
    struct Frame {
      Watch owner;
      std::vector<DAttribute*> snapshot;
      std::size_t version;
      std::size_t next = 0;
    };
    std::vector<Frame> frames;
    frames.push_back(Frame{Watch(*this), dependents, dependents_version});
    while (!frames.empty()) {
      Frame& frame = frames.back();
      Impl* const owner = frame.owner.alive();
      if (owner == nullptr || frame.next == frame.snapshot.size()) {
        frames.pop_back();
        continue;
      }
      DAttribute* dependent = frame.snapshot[frame.next++];
      if (dependent == nullptr) continue;
      if (owner->dependents_version != frame.version && !owner->has_dependent(dependent)) {
        continue;
      }
      Impl& next = of(*dependent);
      if (next.callbacks != nullptr) {
        // Only callbacks may destroy it, and most dependents have none.
        const Watch stepped(next);
        step(next);
        if (stepped.alive() == nullptr) continue;
      }
      // Taken after the step, as a nested walk would take it.
      if (!next.dependents.empty()) {
        frames.push_back(Frame{Watch(next), next.dependents, next.dependents_version});
      }
    }
  }

  // Appends a copy of `source` and its states to `parent` and returns it, as
  // `place` says. REQUIRES: parent lies outside `source`, in the tree `place`
  // was taken for.
  static DAttribute* copy_tree(const DAttribute& source, DObject* parent, const DCopyPlace& place);
  // The copy of `source` alone, with its value or link, appended to `parent`.
  static DAttribute* copy_one(const DAttribute& source, DObject& parent, const DCopyPlace& place);
  // The value of a copy whose source holds a shared one.
  [[gnu::noinline]] static void copy_shared(DAttribute& copy, const DAttribute& source,
                                            const DCopyPlace& place);

  bool has_dependent(const DAttribute* dependent) const;
  void compact_dependents();
  // Calls the callbacks of one of the two maps; stops when one of them
  // destroys this record.
  void call_all(Callbacks CallbackLists::*map);
};

}  // namespace Drelm
