#pragma once

// Patch lists as lines a test can compare.

#include <string>
#include <vector>

#include "app_model/render_node.h"

namespace support {

// One line per patch: kind and path, then " in <parent path>" when there is
// one, " at <index>" for an insert or a non-zero index, and " = <text>" for
// an editor value.
inline std::vector<std::string> describe(const std::vector<Ombrix::Patch>& patches) {
  std::vector<std::string> lines;
  lines.reserve(patches.size());
  for (const Ombrix::Patch& p : patches) {
    std::string line = std::string(Ombrix::to_string(p.kind)) + " " + p.path;
    if (!p.parentPath.empty()) line += " in " + p.parentPath;
    if (p.index != 0 || p.kind == Ombrix::PatchKind::insert) {
      line += " at " + std::to_string(p.index);
    }
    if (p.kind == Ombrix::PatchKind::editorvalue) line += " = " + p.node.text;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace support
