#pragma once

// Private to the application model: the styles of the last render, kept so
// that the next one reads only what may have changed since.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app_model/internal/style_internal.h"
#include "app_model/render_node.h"
#include "app_model/style.h"

namespace Drelm {
class DAttribute;
class DLayer;
}  // namespace Drelm

namespace Ombrix {

// One entry per node built, in the order of the render walk: a render that
// walks the same tree meets its entries in the same places.
struct StyleMemo {
  struct Entry {
    // The layer the entry was made for and the layer tree's answers_version
    // then; everything below holds only while both are the same.
    const Drelm::DLayer* layer = nullptr;
    std::uint64_t version = 0;

    // What the layer tree says of the node: its kind, its "Border" and its
    // child layers that are widgets (not details), in child order. Not kept
    // when a base chain they follow may lead into another tree, whose
    // changes leave this tree's version alone.
    bool facts = false;
    NodeType type = NodeType::box;
    Drelm::DLayer* border = nullptr;
    std::vector<Drelm::DLayer*> widgets;

    // The style resolved for `states`; not kept when an answer depended on
    // another tree.
    bool kept = false;
    // The states, then the fields of the style that differ from a fresh
    // style's (see style.cpp).
    std::string record;
    // The slots whose values are read anew each time (link targets), and
    // their sources in slot order.
    StyleSlotBits reread_slots;
    std::vector<const Drelm::DAttribute*> reread;
  };
  // A deque: an entry stays where it is while the walk adds the next ones.
  std::deque<Entry> entries;
  std::size_t next = 0;
  std::uint64_t version = 0;
};

// Starts a render of the tree that holds `root`.
void begin_style_memo(StyleMemo& memo, const Drelm::DLayer& root);
// The entry of the next node, which is built from `layer`: emptied unless it
// was made for that layer with nothing changed since.
StyleMemo::Entry& next_memo_entry(StyleMemo& memo, const Drelm::DLayer* layer);
// Drops the entries the render did not reach.
void end_style_memo(StyleMemo& memo);
// resolve_style_into, answered from `entry` when it holds the style for these
// states, and kept there otherwise.
void resolve_style_kept(ResolvedStyle& style, Drelm::DLayer* layer,
                        const std::vector<std::string>& states, Drelm::DLayer* border,
                        StyleMemo::Entry& entry);

}  // namespace Ombrix
