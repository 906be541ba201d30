#pragma once

// Private to the layer sources: the implementation record of DLayer, shared by
// the navigation and look-up code and the inheritance code.

#include <cstddef>
#include <limits>
#include <map>
#include <string>

#include "theme_language/layer.h"

namespace Drelm {

struct DLayer::Impl {
  // Resolved base; null while unresolved and when nothing is inherited.
  DLayer* base = nullptr;
  // The reference written after "<<"; empty when nothing is inherited.
  std::string base_path;
  // find(string_view) without building a text.
  std::map<std::string, DAttribute*, std::less<>> attribute_cache;
  // SIZE_MAX, so the first look-up builds the cache (a new object's version is 0).
  std::size_t cached_children_version = std::numeric_limits<std::size_t>::max();

  // Out of line so that the look-up itself stays short.
  void rebuild_attribute_cache(const DLayer& owner);

  // REQUIRES: base and derived are not null.
  static void merge_from(DLayer* base, DLayer* derived);
};

}  // namespace Drelm
