#pragma once

// Private to the layer sources: the implementation record of DLayer, shared by
// the navigation and look-up code and the inheritance code.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "theme_language/layer.h"

namespace Drelm {

class DLoadBudget;

struct DLayer::Impl {
  // One entry per attribute name; the key is a copy in `index_names`, so that
  // entries move as plain bytes and a rename cannot leave a key dangling.
  struct IndexEntry {
    std::size_t offset;
    std::size_t size;
    DAttribute* attribute;
  };

  // Resolved base; null while unresolved and when nothing is inherited.
  DLayer* base = nullptr;
  // The reference written after "<<"; empty when nothing is inherited.
  std::string base_path;
  // Attribute children sorted by name byte-wise, searched without building a text.
  std::vector<IndexEntry> attribute_index;
  std::string index_names;
  // SIZE_MAX, so the first look-up builds the cache (a new object's version is 0).
  std::size_t cached_children_version = std::numeric_limits<std::size_t>::max();
  std::size_t cached_child_count = 0;
  std::size_t cached_child_renames = 0;
  // The child layers in child order, rebuilt when the child list changed: the
  // render walks them on every build without touching the attributes.
  std::vector<DLayer*> child_layers;
  std::size_t child_layers_version = std::numeric_limits<std::size_t>::max();

  std::string_view key(const IndexEntry& entry) const {
    return std::string_view(index_names.data() + entry.offset, entry.size);
  }

  // Out of line so that the look-up itself stays short.
  void update_attribute_cache(const DLayer& owner);
  void rebuild_attribute_cache(const DLayer& owner);
  // A later attribute of the same name replaces an earlier one.
  void index_attribute(DAttribute* attribute);

  // REQUIRES: base and derived are not null.
  static void merge_from(DLayer* base, DLayer* derived);

  // finalize() within the bounds of a load.
  static void finalize(DLayer& layer, DLoadBudget& budget);
  // Merges the base into the derived layer when the budget and the depth
  // allow it whole; otherwise logs why and leaves the layer without a base.
  static void merge_within(DLayer& base, DLayer& derived, DLoadBudget& budget);
};

}  // namespace Drelm
