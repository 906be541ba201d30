#pragma once

// Private to the library: the structure counter of a tree, which lets caches
// that depend on many objects of one tree check their validity in one read.

#include <cstddef>
#include <cstdint>

#include "theme_language/internal/tree_states.h"
#include "theme_language/object.h"

namespace Drelm {

class DAttribute;

// The record of the tree that holds `object`, kept by its root, made on first
// use. Its counter is raised by every change of the tree's structure:
// children added, destroyed or reordered, objects renamed, layer bases
// changed. The record stays while `object` lives; when the root is placed
// under a parent, its counter is raised once more and no longer kept up to
// date, so a cache holding it turns stale and looks the new root up.
DTreeStates& tree_states(const DObject& object);
inline const std::uint32_t* tree_generation(const DObject& object) {
  return &tree_states(object).generation;
}
// Room for `count` children in all, so that a copy adding them one by one
// grows the list once.
void reserve_children(DObject& object, std::size_t count);
// Raises the counter of the tree that holds `object`.
void raise_tree_generation(DObject& object);
// Raises the answers counter of that tree (see DTreeStates).
void raise_tree_answers(const DObject& object);

// Names `copy` with the name `source` holds, sharing it. REQUIRES: both lie in
// one tree once `copy` is placed, as the name's count is not atomic.
void share_name(DObject& copy, const DObject& source);
// Whether `a` and `b` lie in one tree: only then may copies share names.
inline bool same_tree(const DObject* a, const DObject* b) {
  while (a->parent() != nullptr) a = a->parent();
  while (b->parent() != nullptr) b = b->parent();
  return a == b;
}
// DAttribute::clone_to with same_tree(&source, parent) known as
// `share_names`, so that a merge copying many attributes between the same two
// trees decides it once.
void clone_attribute(const DAttribute& source, DObject* parent, bool share_names);

}  // namespace Drelm
