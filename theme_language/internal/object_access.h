#pragma once

// Private to the library: the structure counter of a tree, which lets caches
// that depend on many objects of one tree check their validity in one read.

#include <cstdint>

#include "theme_language/object.h"

namespace Drelm {

// The counter of the tree that holds `object`, kept by its root. Every change
// of the tree's structure raises it: children added, destroyed or reordered,
// objects renamed, layer bases changed. The pointer stays valid while
// `object` lives; when the root is placed under a parent, its counter is
// raised once more and no longer kept up to date, so a cache holding it turns
// stale and looks the new root up.
const std::uint32_t* tree_generation(const DObject& object);
// Raises the counter of the tree that holds `object`.
void raise_tree_generation(DObject& object);

}  // namespace Drelm
