#pragma once

// Private to the library: its ways into DObject, among them the structure
// counter of a tree, which lets caches that depend on many objects of one tree
// check their validity in one read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "theme_language/internal/object_pool.h"
#include "theme_language/internal/tree_states.h"
#include "theme_language/object.h"

namespace Drelm {

class DAttribute;
class DLayer;

// What the library does to the private parts of DObject, which befriends it.
// The free functions below are the names the library calls them by.
struct DObjectAccess {
  static DTreeStates& tree_states(const DObject& object);
  static void reserve_children(DObject& object, std::size_t count);
  static void raise_tree_generation(DObject& object);
  static void raise_tree_answers(const DObject& object);
  static DObject* append_copy(DObject& parent, std::unique_ptr<DObject> copy);
  static void share_name(DObject& copy, const DObject& source);
  static DObjectPool* object_pool(DObject& object);
  // The parts of destruction that most objects skip: their checks stay in
  // the destructor, without a call.
  static void run_destroyed_callbacks(DObject& object);
  static void destroy_children(DObject& object);
  // What the destructor does for an object unretired, with children or
  // with a record.
  static void destroy_rest(DObject& object);

  // Lifetime: see DOperation below.
  static constexpr std::uint8_t kDying = 1;  // its destroy callbacks have started
  static constexpr std::uint8_t kDead = 2;   // out of the tree, only its memory is left
  // With kDying and kDead: released by a quiet teardown before it was
  // retired; its destructor retires it first thing.
  static constexpr std::uint8_t kRetireInDestructor = 4;
  static bool dead(const DObject& object) { return (object.life & kDead) != 0; }
  static bool dying(const DObject& object) { return object.life != 0; }
  static bool retire_in_destructor(const DObject& object) {
    return object.life == (kDying | kDead | kRetireInDestructor);
  }
  static DObject& open_operation(const DObject& object);
  static void close_operation(DObject& root);
  // What a destructor of an object that nobody retired does first: the
  // whole destruction but the release of the object itself.
  static void destroy_unretired(DObject& object);
  // The destroy callbacks of `top` and its subtree, then the retiring.
  static void destroy_subtree(DObject& top);
  // The derived class's part of retiring one object.
  static void retire(DObject& object);
  // Whether a destruction in the tree of `root` may release as it goes.
  static bool quiet(const DObject& root);
  // Destroying objects of the tree of `object` may run code of the program's.
  static void note_calls_out(const DObject& object);
  static void release_all(std::vector<std::unique_ptr<DObject>> objects);
};

// Release nothing while an operation of its tree is running. Destroying an
// object runs the destroy callbacks of its subtree while all of it is whole,
// takes it out of its parent's list, breaks the links into it, makes derived
// layers forget it as a base and marks every object of it dead, all at once;
// its memory is released when the outermost operation of the tree returns.
// Every public operation that may run a callback holds one of these on its
// tree, so a walk holding objects of the tree only has to skip dead ones
// (dead() below) and stop working on one that died; it never reads freed
// memory. A root placed under a parent hands its running operations and
// retired objects to the new root.
class DOperation {
 public:
  explicit DOperation(const DObject& object) : root(&DObjectAccess::open_operation(object)) {}
  ~DOperation() { DObjectAccess::close_operation(*root); }
  DOperation(const DOperation&) = delete;
  DOperation& operator=(const DOperation&) = delete;

 private:
  DObject* root;
};

// Whether `object` was destroyed during a running operation: it is out of
// its tree and only its memory is left until the operation returns.
inline bool dead(const DObject& object) { return DObjectAccess::dead(object); }

// The record of the tree that holds `object`, kept by its root, made on first
// use. Its counter is raised by every change of the tree's structure:
// children added, destroyed or reordered, objects renamed, layer bases
// changed (tree_states.h lists every counter and every cache that compares
// one). The record stays while `object` lives; when the root is placed
// under a parent, its counter is raised once more and no longer kept up to
// date, so a cache holding it turns stale and looks the new root up.
inline DTreeStates& tree_states(const DObject& object) {
  return DObjectAccess::tree_states(object);
}
// The root of the tree that holds `object`. Found through the nearest layer's
// hint, a cached root: trees only ever join, so a hint that still has no
// parent is the root; one that got a parent is followed up and rewritten.
// Creation, the pool and the counters thus cost no walk up a deep tree.
DObject& tree_root(const DObject& object);
// The first of `object` and the objects above it, nearest first, for which
// found(up) holds; null when none does. Object is DObject or DLayer, whose
// parent() is the layer that holds it, so that a walk of layers ends at the
// first object above that is no layer.
template <typename Object, typename Found>
Object* find_up(Object* object, Found&& found) {
  for (Object* up = object; up != nullptr; up = up->parent()) {
    if (found(up)) return up;
  }
  return nullptr;
}
// The topmost of `object` and the objects above it, walked up plainly; see
// tree_root for the root of a tree found without a walk.
template <typename Object>
Object* root_of(Object* object) {
  while (Object* up = object->parent()) object = up;
  return object;
}
// The root hint of a layer, null until the layer joins a tree or is looked
// up. REQUIRES: layer.kind() is LAYER.
DObject** layer_root_hint(DObject& layer);
inline const std::uint32_t* tree_generation(const DObject& object) {
  return &tree_states(object).generation;
}
// Room for `count` children in all, so that a copy adding them one by one
// grows the list once.
inline void reserve_children(DObject& object, std::size_t count) {
  DObjectAccess::reserve_children(object, count);
}
// Raises the counter of the tree that holds `object`.
inline void raise_tree_generation(DObject& object) { DObjectAccess::raise_tree_generation(object); }
// Raises the answers counter of that tree (see DTreeStates).
inline void raise_tree_answers(const DObject& object) { DObjectAccess::raise_tree_answers(object); }

// add_child for a copy just made, which was never a root of its own, without
// raising the tree's counter: raising it means a walk to the root, and a copy
// operation adds many objects while nothing reads it. REQUIRES: the operation
// raises the counter once it is done, before anything can read it.
inline DObject* append_copy(DObject& parent, std::unique_ptr<DObject> copy) {
  return DObjectAccess::append_copy(parent, std::move(copy));
}
// Names `copy` with the name `source` holds, sharing it. REQUIRES: both lie in
// one tree once `copy` is placed, as the name's count is not atomic.
inline void share_name(DObject& copy, const DObject& source) {
  DObjectAccess::share_name(copy, source);
}
// The pool of the tree that holds `object`, kept by its root and made on
// first use; null where pools are off. An object made from it must be placed
// in that root's subtree: the root keeps its pool when it is placed under
// another parent, and destroys its subtree before the pool.
inline DObjectPool* object_pool(DObject& object) { return DObjectAccess::object_pool(object); }
// A T made from `pool`, or from the heap when that is null.
template <typename T, typename... Args>
std::unique_ptr<T> make_pooled(DObjectPool* pool, Args&&... args) {
  if (pool == nullptr) return std::make_unique<T>(std::forward<Args>(args)...);
  static_assert(alignof(T) <= alignof(DObjectPool*), "pooled objects are aligned to a word");
  void* place = pool->allocate_object(sizeof(T));
  try {
    return std::unique_ptr<T>(::new (place) T(std::forward<Args>(args)...));
  } catch (...) {
    DObjectPool::release_object(place, sizeof(T));
    throw;
  }
}

// How one copy operation makes its copies: whether they share the names of
// their sources (only within one tree, as the name's count is not atomic),
// and the pool of the tree they land in.
struct DCopyPlace {
  bool share_names = false;
  DObjectPool* pool = nullptr;
};
// The place for copies of `source` made under `parent`.
DCopyPlace copy_place(const DObject& source, DObject& parent);

// The parts of destruction that belong to the derived classes, run while
// the whole subtree is still in memory: a layer leaves its base's list and
// its derived layers forget it; an attribute's dependents lose their links.
void retire_layer(DLayer& layer);
void retire_attribute(DAttribute& attribute);

// resolve_links within an operation already running on the tree.
void resolve_links_within(DAttribute& attribute);
void resolve_links_within(DLayer& layer);

// DAttribute::clone_to with the place known, so that a merge copying many
// attributes between the same two trees decides it once.
void clone_attribute(const DAttribute& source, DObject* parent, const DCopyPlace& place);

}  // namespace Drelm
