#pragma once

// Private to the application model: the styles of the last render, kept so
// that the next one reads only what may have changed since.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app_model/style.h"

namespace Drelm {
class DAttribute;
class DLayer;
}  // namespace Drelm

namespace Ombrix {

// One entry per style resolved, in the order of the render walk: a render
// that walks the same tree meets its entries in the same places.
struct StyleMemo {
  struct Entry {
    // What the style was resolved from; null layer: not yet resolved.
    const Drelm::DLayer* layer = nullptr;
    const Drelm::DLayer* border = nullptr;
    std::vector<std::string> states;
    // The layer tree's answers_version then.
    std::uint64_t version = 0;
    // False when an answer depended on another tree: resolved every time.
    bool kept = false;
    ResolvedStyle style;
    // The slots whose values are read anew each time (link targets), as
    // bits, and their sources in slot order.
    std::uint64_t reread_slots = 0;
    std::vector<const Drelm::DAttribute*> reread;
  };
  std::vector<Entry> entries;
  std::size_t next = 0;
  std::uint64_t version = 0;
};

// Starts a render of the tree that holds `root`.
void begin_style_memo(StyleMemo& memo, const Drelm::DLayer& root);
// Drops the entries the render did not reach.
void end_style_memo(StyleMemo& memo);
// resolve_style_into, answered from the next entry when nothing it read can
// have changed since that entry was made.
void resolve_style_kept(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, Drelm::DLayer* border,
                        StyleMemo& memo);

}  // namespace Ombrix
