#pragma once

// Private to the library: what one tree keeps for the state look-ups of its
// attributes. The condition names of state attributes become small ids, so
// that a look-up tests bits instead of comparing strings, and the active list
// of a look-up becomes a set of those ids once for as long as it stays the same.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "theme_language/internal/bytes.h"

namespace Drelm {

// A set of condition ids: the first 64 in one word, the rare rest in more.
struct DConditionSet {
  std::uint64_t low = 0;
  std::vector<std::uint64_t> high;

  bool contains(std::uint32_t id) const {
    if (id < 64) return (low >> id & 1U) != 0;
    const std::size_t word = id / 64 - 1;
    return word < high.size() && (high[word] >> (id % 64) & 1U) != 0;
  }
};

class DConditionTable {
 public:
  // The id of `name`, given on first sight; ids stay as long as the table.
  std::uint32_t intern(std::string_view name);
  // The ids of the names in `active`; names never interned have none and can
  // match nothing. The reference stays valid until the next call.
  const DConditionSet& set_of(const std::vector<std::string>& active) {
    const Recent& last = recent[newest];
    if (last.known == ids.size() && same_names(last.names, active)) return last.set;
    return set_of_other(active);
  }

 private:
  // A recent active list, compared by contents: the caller may change a list
  // in place between two look-ups.
  struct Recent {
    std::vector<std::string> names;
    DConditionSet set;
    // How many ids there were when the set was made, as a name interned since
    // may be active; none when the entry is unused.
    std::size_t known = kUnused;
  };
  static constexpr std::size_t kUnused = static_cast<std::size_t>(-1);

  // Active names are a handful of short words: compared in place, a word at a
  // time, which is much cheaper for them than a call per name.
  static bool same_names(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].size() != b[i].size() || !same_bytes(a[i].data(), b[i].data(), a[i].size())) {
        return false;
      }
    }
    return true;
  }
  // set_of when the newest list is not the one asked for.
  const DConditionSet& set_of_other(const std::vector<std::string>& active);

  // Ordered, not hashed: the names come from the sources, whose authors could
  // choose them to share a hash. Interning happens while loading; look-ups
  // only when the active list changes.
  std::map<std::string, std::uint32_t, std::less<>> ids;
  // Two, as a style look-up alternates between the node's list and the same
  // list less one name.
  Recent recent[2];
  std::size_t newest = 0;
};

// ---- Counters, and the caches and memos that compare them ------------------
//
// Every cache and memo of both libraries is listed here with what it compares;
// an operation that changes what one of them holds raises that counter.
//
// Counters:
//   C  children_version of an object (DObject::version): its child list.
//      Raised by add_child, destroy_child (when it finds the child),
//      reorder_children, and append_copy (copies made by clone_to and merges).
//   R  child_renames of an object (DObject::Extra): raised by set_object_name
//      of any of its children.
//   G  generation of a tree (below, kept by its root): the tree's structure.
//      Raised (raise_tree_generation) by add_child, destroy_child,
//      reorder_children, set_object_name, every change of a layer's base
//      (resolve_bases, finalize and refuse_base dropping one, a merge giving
//      a nested layer its base, and a base destroyed: its derived layers'
//      trees), clone_to and merge_from once their copies are all appended
//      (append_copy itself does not; a merge also as its first copy lands on
//      a layer that other layers' chains pass), and, once and for good, by add_child
//      on the record of a root placed under a parent, whose caches must then
//      look up the new root's record.
//   A  answers of a tree (below): raised by every change of a link in it
//      (create_link, break_link, a link dropped or resolved) and by set_value
//      of an attribute flagged kValueKept (a memo holds a copy of its value).
//      Apart from G, so that a theme switch, which sets linked-to values,
//      leaves the state caches that compare G alone.
//   B  bases of a tree (below): raised by every change of the base of a layer
//      that other layers name as their base (set_base), and for each such
//      layer that loses a destroyed base (forget_derived): the base chains
//      that pass through it change. A layer whose own base changes forgets
//      its kept chain instead.
//   D  dependents_version of an attribute: raised by every registration into
//      its dependents and every removal attempt; only a running notification
//      walk compares it, to skip dependents that left meanwhile.
//
// Caches and memos:
//   DLayer attribute index, with its answers to the last constant name table
//     (find_attribute, find_attributes): C, the child count and R.
//   DLayer child layer index (find_child_layer past eight child layers): C,
//     the child count and R.
//   DLayer child layer list (children, child_layers_of): C.
//   DAttribute own state index (find_own_state past eight children): C, the
//     child count and R.
//   DAttribute state entries (state, as_if, value_for, value_source): G of the
//     attribute's tree, and G of every other tree that its layer's base chain
//     passes, with their values when built. A base in another tree is
//     forgotten, and G raised in the tree of the layer that named it, when
//     that base is destroyed; the other trees' counters are read in chain
//     order after the own one, so a counter of a tree that is gone is never
//     read: the tree holding the link into it is raised first. A rebuild
//     (and states(true)) stops at the first same-named attribute along the
//     chain whose entries pass these same checks, taking its entries and its
//     other trees' counters for the rest of the chain; the stale ones on the
//     way are rebuilt first, farthest first, so a chain costs one walk.
//   DLayer base chain end and length (accepts_base, the merges' loop check):
//     B of the layer's tree, and the tree record itself; only for chains whose
//     every link lies in that tree.
//   DLayer chain covered (a merge's walk of inherited states stops there):
//     G of the layer's tree, with its kept chain fresh; within a merge, G as
//     the merge began, until it copies onto a layer that chains pass or gives
//     such a layer its base, when it raises G at once.
//   DConditionTable recent active lists: the names themselves and the number
//     of interned ids; nothing of the tree.
//   The render's StyleMemo (app_model/internal/style_memo.h): answers_version
//     (G and A) of the rendered tree, and the layer of each entry. Node facts
//     (kind, border, widget children) are kept only while no base chain they
//     walk may lead into another tree; styles only while no answer came from
//     another tree (value_source's `never`); values read through links are
//     read anew from their source on every render.
//   A layer's root hint (tree_root): no counter, as trees only ever join; a
//     hint whose object got a parent is followed up and rewritten.
//   Within one operation only: a render's answers about base chains
//   (ChainAnswers in app_model/internal/app_internal.h, as the layer tree
//   does not change while a tree is built), a merge's values to hand over (each skipped
//     once its attribute is dead), a load's bases known too large (by
//     address, for the load's duration; each forgotten when its base dies),
//     and a lowering's shared long texts (by their place in the parse tree).
//
// Lifetime, for every pointer a running operation holds (DOperation in
// object_access.h): release nothing while an operation of its tree is
// running. A destroyed object is at once out of its parent's list and every
// index (C and G rise), its links and bases are undone, and it and its
// subtree are marked dead; the operations count and the retired objects are
// kept by the tree's root, and the memory goes when the outermost operation
// returns. A walk over a snapshot tests dead() on each entry and stops
// working on an object that died; the watches of an attribute's record
// answer null for a dead attribute too. A tree in which no operation runs
// and nothing can call out (no destroy or link-change callback was ever
// registered, no link from another tree leads in) releases as it destroys,
// in one walk.
//
// A new mutating operation raises C (and G) when it changes a child list, R
// (and G) when it renames, G when it changes a base, A when it changes a link
// or a value that a memo may hold. A new operation that may run a callback
// holds a DOperation on its tree for as long as it holds pointers into it.

// Kept by the root of a tree once a look-up asked for it.
struct DTreeStates {
  // G and A above.
  std::uint32_t generation = 0;
  std::uint32_t answers = 0;
  // B above.
  std::uint32_t bases = 0;
  DConditionTable conditions;
};

}  // namespace Drelm
