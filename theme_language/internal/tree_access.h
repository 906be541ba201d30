#pragma once

// Private to the library: quick ways through the layer tree for the hot paths
// of loading and look-up.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/internal/name_index.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"
#include "theme_language/object.h"

namespace Drelm {

class DLoadBudget;
struct DTreeStates;

// Checked down-casts by DObject::kind in place of dynamic_cast. A class derived
// from DLayer or DAttribute keeps its base's kind, so these answer as
// dynamic_cast would.
inline DLayer* as_layer(DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::LAYER ? static_cast<DLayer*>(object)
                                                                      : nullptr;
}

inline const DLayer* as_layer(const DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::LAYER
             ? static_cast<const DLayer*>(object)
             : nullptr;
}

inline DAttribute* as_attribute(DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::ATTRIBUTE
             ? static_cast<DAttribute*>(object)
             : nullptr;
}

inline const DAttribute* as_attribute(const DObject* object) {
  return object != nullptr && object->kind() == DObject::DKind::ATTRIBUTE
             ? static_cast<const DAttribute*>(object)
             : nullptr;
}

// The look-ups that go through DLayer's private caches.
struct DLayerAccess {
  static DLayer* find_child_layer(const DLayer& layer, std::string_view name);
  static const std::vector<DLayer*>& child_layers(const DLayer& layer);
  static DObject** root_hint(DLayer& layer);
  // out[i] = the attribute of keys[i], as find_attribute would give it.
  static void find_attributes(DLayer& layer, const DNameKey* keys, std::size_t count,
                              DAttribute** out);
  static void find_attributes(DLayer& layer, const DNameTable& table, DAttribute** out);
  static bool base_may_lie_elsewhere(const DLayer& layer);
  // The length of base_path(), without the copy that base_path() returns.
  static std::size_t base_path_size(const DLayer& layer);
  static void retire(DLayer& layer);
  // Whether each attribute that a name finds in `layer` holds a state of
  // every name its chain holds, as the merge that gave the layer its base
  // left it and nothing changed since.
  // Within a merge, G of the `merging` tree is taken as it was at `since`.
  static bool states_cover_chain(const DLayer& layer, const DTreeStates* merging = nullptr,
                                 std::uint32_t since = 0);
};

// Which states an attribute inherits, the one rule that states(true), the
// state cache and the merges follow: found(from) hears of the same-named
// attribute of each base along its layer's base chain, nearest first, up to
// the first base that has none; seen(base) of every base looked at. A base
// met again in a looping chain is heard of again, further off. A found that
// returns false ends the walk there.
template <typename Found, typename Seen>
void for_each_state_source(const DAttribute& attribute, Found&& found, Seen&& seen) {
  DLayer* layer = as_layer(attribute.parent());
  if (layer == nullptr) return;
  walk_base_chain(
      layer->base(),
      [&](DLayer* base) {
        seen(*base);
        DAttribute* from = base->find_attribute(attribute.object_name());
        if (from == nullptr) return true;
        if constexpr (std::is_same_v<decltype(found(*from)), bool>) {
          return !found(*from);
        } else {
          found(*from);
          return false;
        }
      },
      layer);
}

// out[i] = layer.find_attribute(keys[i].name), for each of the count keys.
void find_attributes(DLayer& layer, const DNameKey* keys, std::size_t count, DAttribute** out);

// As DLayer::find_layer on the pieces that split(path, '/') gives, without
// building them.
DLayer* find_layer_path(DLayer& layer, std::string_view path);

// DLayer::finalize() within the bounds of one load, which are charged with
// what inheritance copies.
void finalize_in_load(DLayer& layer, DLoadBudget& budget);

// The state attribute that states(false) holds under that name, or null.
DAttribute* find_own_state(const DAttribute& attribute, std::string_view name);
// The state attributes of states(false), in its order.
std::vector<DAttribute*> own_states_by_name(const DAttribute& attribute);

}  // namespace Drelm
