#include "theme_language/parse_tree.h"

#include <cstdio>

namespace Drelm {

std::string to_string(DColor color) {
  // Wide enough for four full 32-bit channels, so an out-of-range channel is
  // printed whole rather than cut.
  char buffer[1 + 4 * 8 + 1];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x%02x", color.alpha, color.red, color.green,
                color.blue);
  return buffer;
}

}  // namespace Drelm
