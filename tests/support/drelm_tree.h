#pragma once

// Look-ups in a theme-language tree for tests.

#include <string>
#include <vector>

#include "theme_language/object.h"

namespace support {

// The names of an object's children, in order.
inline std::vector<std::string> child_names(const Drelm::DObject& object) {
  std::vector<std::string> names;
  for (const auto& child : object.children()) names.push_back(child->object_name());
  return names;
}

}  // namespace support
