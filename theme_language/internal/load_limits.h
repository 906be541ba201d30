#pragma once

// Bounds that keep pathological sources from exhausting time, memory or the
// stack while they load: declarations that expand to huge numbers of objects,
// bases that copy their subtrees over and over, and trees nested too deep.

#include <cstddef>

#include "theme_language/parse_tree.h"

namespace Drelm {

class DObject;
class DLayer;

// Deepest nesting of layers, written or made by inheritance; the parser refuses
// deeper blocks the same way.
inline constexpr std::size_t kMaxLayerDepth = 1024;

// Declarations a file may expand to beyond four per token it holds.
inline constexpr std::size_t kMinLoweringBudget = 10000;

// Objects that inheritance may copy in one directory load: this many, and
// more for every object that the load's files declared.
inline constexpr std::size_t kMinCopyBudget = 10000;
inline constexpr std::size_t kCopiesPerDeclaredObject = 64;

// How many declarations lowering the file would process, saturated at limit + 1.
std::size_t count_lowerings(const DLayerNode& root, std::size_t limit);

// Objects below `object` (not counting it) and the number of layer levels below it.
struct DSubtreeSize {
  std::size_t objects = 0;
  std::size_t height = 0;
};
DSubtreeSize measure_subtree(const DObject* object);

// Layer ancestors of a layer.
std::size_t layer_depth(const DLayer* layer);

// The copy budget of the running directory load; unlimited outside one.
void set_copy_budget(std::size_t objects);
void clear_copy_budget();
std::size_t copy_budget();
// Takes that many copies from the budget; false (and nothing taken) when they
// exceed it, after which the budget stays exhausted until it is set again.
bool take_copy_budget(std::size_t objects);
bool copy_budget_exhausted();

}  // namespace Drelm
