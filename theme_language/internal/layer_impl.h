#pragma once

// Private to the layer sources: the implementation record of DLayer, shared by
// the navigation and look-up code and the inheritance code.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/name_index.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/shared_value.h"
#include "theme_language/layer.h"

namespace Drelm {

class DLoadBudget;

// One entry of an attribute's states(true) as a merge lists them by name.
struct DStateEntry {
  std::string_view name;
  std::size_t level;     // 0 for the attribute's own, then one per base
  std::size_t position;  // among the holder's children
  DAttribute* state;
};

struct DLayer::Impl {
  // Resolved base; null while unresolved and when nothing is inherited, and
  // again once the base is destroyed. Set only through set_base, which keeps
  // the base's `derived` list in step.
  DLayer* base = nullptr;
  // The layers whose base this one is, in this tree or another, in no order:
  // they forget it when it is destroyed.
  std::vector<DLayer*> derived;
  // Where this layer stands in its base's `derived`.
  std::uint32_t derived_slot = 0;
  // Whether the base may lie in another tree. Decided when the base is set,
  // as trees only ever join: false means the same tree for good, true may
  // also turn out the same tree later, which costs a cache, never an answer.
  bool base_elsewhere = false;
  // The reference written after "<<"; empty when nothing is inherited.
  std::string base_path;
  // Attribute children by name; of one name the last in child order. Made on
  // the first look-up, it keeps its stamp against the child list.
  DNameIndex<DAttribute> attribute_index;
  // Child layers by name; of one name the first in child order. Made only for
  // layers with many child layers: a few are searched in the list below.
  DNameIndex<DLayer> layer_index;
  // The child layers in child order, rebuilt when the child list changed: the
  // render walks them on every build without touching the attributes.
  std::vector<DLayer*> child_layers;
  std::size_t child_layers_version = std::numeric_limits<std::size_t>::max();
  // The owner's child count when child_layers was last brought up to date.
  std::size_t child_layers_count = 0;
  // An ancestor that was the root of this layer's tree when last seen (see
  // tree_root in object_access.h); null until known.
  DObject* root_hint = nullptr;
  // The last layer of the base chain from this one and the chain's length,
  // this layer included, while `tree`'s `bases` counter stays at `stamp`;
  // unknown while `end` is null. Kept only for chains that stay in one tree,
  // so that asking whether a layer lies on a long chain costs no walk of it;
  // made for the layers of chains that were asked about.
  struct Chain {
    const DLayer* end = nullptr;
    const DTreeStates* tree = nullptr;
    std::uint32_t length = 0;
    std::uint32_t stamp = 0;
    // Set by the merge that gave the layer its base: each attribute that a
    // name finds here then holds a state of every name its chain holds, so a
    // walk of the chain may stop here. Trusted while G is `covered_at`.
    bool covered = false;
    std::uint32_t covered_at = 0;
  };
  std::unique_ptr<Chain> chain;

  // Out of line so that the look-ups themselves stay short.
  void update_attribute_index(const DLayer& owner);
  void update_layer_index(const DLayer& owner);
  const std::vector<DLayer*>& current_child_layers(const DLayer& owner) {
    if (child_layers_version != owner.children_version()) update_child_layers(owner);
    return child_layers;
  }
  void update_child_layers(const DLayer& owner);
  // Frees the indexes that the owner's child list has left behind; each would
  // be built anew at its next look-up anyway.
  void drop_stale_indexes(const DLayer& owner);

  // The end and length of the base chain from `layer`, from the layers' kept
  // answers where they are fresh; false for a chain that loops or leaves the
  // layer's tree.
  static bool chain_of(const DLayer& layer, const DLayer*& end, std::size_t& length);
  // Whether `link` is `first` or lies on its base chain.
  static bool on_chain(const DLayer* first, const DLayer* link);
  // Whether a chain that a covered layer trusts may pass `layer`: it is a
  // base of others, or covered itself.
  static bool passed_by_chains(const DLayer& layer) {
    return !layer.impl->derived.empty() || (layer.impl->chain && layer.impl->chain->covered);
  }
  // Whether `candidate` may be the base of `layer`: its chain must not lead
  // back to the layer or to anything that contains it.
  static bool accepts_base(const DLayer* layer, const DLayer* candidate);

  // Makes `base` the base of `layer` (null: none); `elsewhere` as for
  // base_elsewhere. Raises no counter: the caller does.
  static void set_base(DLayer& layer, DLayer* base, bool elsewhere);
  // ~DLayer's part for a layer that other layers name as their base.
  static void forget_derived(DLayer& layer);
  // Logs why the layer inherits nothing and leaves it without a base.
  static void refuse_base(DLayer& layer, const std::string& reason);

  // REQUIRES: base and derived are not null.
  static void merge_from(DLayer* base, DLayer* derived);

  // One merge_from call with its nested merges. Change callbacks may rename,
  // add or destroy children of the layers being merged; so the merge first
  // makes every copy and move, which run no callback, while it holds its name
  // indexes, and only then hands the inherited values and links over to the
  // derived attributes, making sure before each that the attribute still exists.
  struct Merge {
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    // A derived layer given inherited values, or the parent of one; `parent`
    // is the record of its parent layer, kNone for the one merge_from was
    // called on. `object` is the same object, taken while it surely existed.
    struct Layer {
      DLayer* layer;
      const DObject* object;
      std::size_t parent;
      std::size_t version;
    };
    struct Value {
      std::size_t layer;
      DAttribute* attribute;
      const DObject* object;
      DValue value;  // the link path when `link`; empty when `shared` holds it
      DSharedValue shared;
      bool link;
    };
    // The derived layer of one (nested) merge; its record is made when the
    // first value is handed to one of its attributes.
    struct Frame {
      Frame* outer;
      DLayer* derived;
      std::size_t record = kNone;
    };

    std::vector<Layer> layers;
    std::vector<Value> values;
    // How the copies are made, decided once for all of them.
    DCopyPlace place;
    // Scratch for the state lists of merge_layer.
    std::vector<DStateEntry> inherited_states;
    std::vector<DStateEntry> own_states;
    // Nested layers given their base by this merge, with that base: their
    // chains are covered when the merge ends, unless a copy landed on a layer
    // that a chain passes (`chains_changed`).
    std::vector<std::pair<DLayer*, const DLayer*>> covering;
    bool chains_changed = false;
    // The derived layer's tree and its G when the merge began: until a chain
    // changes, the merge's own raises leave the covered chains as they were.
    const DTreeStates* tree = nullptr;
    std::uint32_t generation_at_start = 0;

    void add_value(Frame& frame, DAttribute* attribute, DValue value, bool link);
    void add_shared(Frame& frame, DAttribute* attribute, DSharedValue value);
    std::size_t record(Frame& frame);
    void hand_over();
  };
  // Copies, inserts and reorders; records the values for `merge` to hand over.
  static void merge_layer(DLayer* base, DLayer* derived, Merge& merge, Merge::Frame& frame);

  // Appends a deep copy of `source` to `parent` and returns it, as `place`
  // says. REQUIRES: parent lies outside `source`, in the tree `place` was
  // taken for.
  static DLayer* copy_tree(const DLayer& source, DObject* parent, const DCopyPlace& place);
  // DLayer::clone_to with the place known.
  static void clone_into(const DLayer& source, DObject* parent, const DCopyPlace& place);
  // finalize() within the bounds of a load.
  static void finalize(DLayer& layer, DLoadBudget& budget);
  // Merges the base into the derived layer when the budget and the depth
  // allow it whole; otherwise logs why and leaves the layer without a base.
  static void merge_within(DLayer& base, DLayer& derived, DLoadBudget& budget);
};

}  // namespace Drelm
