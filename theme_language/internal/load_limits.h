#pragma once

// Bounds that keep pathological sources from exhausting time, memory or the
// stack while they load: declarations that expand to huge numbers of objects,
// bases that copy their subtrees over and over, and trees nested too deep.

#include <cstddef>
#include <limits>
#include <map>
#include <vector>

#include "theme_language/connections.h"
#include "theme_language/parse_tree.h"

namespace Drelm {

class DObject;
class DLayer;

// Deepest nesting of blocks in a file and of layers, written or made by
// inheritance. Parsing and inheritance recurse once per level; real themes
// nest a few dozen levels.
inline constexpr std::size_t kMaxLayerDepth = 1024;
// Finalizing a layer finalizes its base and its children first, a frame per
// base and per level on its stack; a base is not finalized past this many.
inline constexpr std::size_t kMaxFinalizeNesting = 4 * kMaxLayerDepth;

// Amplification bound, as XML parsers bound entity expansion. Below the
// threshold nothing is refused: a 100 x 100 grid of 30 attributes per cell is
// about 300,000 objects. Above it, an engine's loads may make this many
// objects per byte of source it has read in all: real interfaces make well
// under one (the generated 10,000- and 60,000-node interfaces about 0.17),
// the attacks thousands, so 8 leaves the first a wide margin and holds the
// second to a small multiple of their size.
inline constexpr std::size_t kObjectsFreeOfBound = 500000;
inline constexpr std::size_t kObjectsPerSourceByte = 8;

// The same bound on the text that the objects hold of their own (values,
// link paths, names, base paths): one object may carry a text of any length,
// and expansions and bases copy it to each of theirs. Texts that a tree
// shares (names and long values) cost nothing more per copy. Real interfaces
// copy a few bytes per byte of source (the generated 10,000-node interface
// under 10), and every text they make counts at most once per object.
inline constexpr std::size_t kCopiedBytesFreeOfBound = 64 * 1024 * 1024;
inline constexpr std::size_t kCopiedBytesPerSourceByte = 256;

// What one engine has read and made over all its loads.
struct DLoadTotals {
  std::size_t bytes_read = 0;
  std::size_t objects_made = 0;
  std::size_t bytes_copied = 0;
};

// Objects that an engine's loads may make in all, having read that much source.
std::size_t object_allowance(std::size_t bytes_read);
// Bytes of text that they may copy in all, likewise.
std::size_t copied_byte_allowance(std::size_t bytes_read);

// The bound of one load, handed down to the lowering checks and to
// inheritance. What the load has made is charged as it goes: exact counts, or
// upper estimates while far from the bound; the first time an estimate would
// not fit, the load's objects are counted afresh, and from then on every
// charge is exact.
class DLoadBudget {
 public:
  // No bound at all: what finalize() uses when called on its own.
  DLoadBudget() = default;
  // The budget of a load into `target`, which must outlive it; totals.bytes_read
  // already holds the load's own files.
  DLoadBudget(const DLoadTotals& totals, const DObject& target);
  ~DLoadBudget();
  // The remembered bases call back into the budget where it stands.
  DLoadBudget(const DLoadBudget&) = delete;
  DLoadBudget& operator=(const DLoadBudget&) = delete;

  bool bounded() const { return target != nullptr; }
  std::size_t bytes_read() const { return bytes; }
  // Objects the load may still make; SIZE_MAX when unbounded.
  std::size_t remaining() const;
  // Whether charges are exact; counts afresh when they are not.
  bool exact() const { return charges_exact; }
  void make_exact();
  // True when that many more objects fit, counting afresh before saying no.
  bool admits(std::size_t objects);
  void charge(std::size_t objects, bool exact_count);
  // Objects made by the engine's loads so far, this one included; exact.
  std::size_t made();
  // Bytes of text the load may still copy; SIZE_MAX when unbounded. Charged
  // with upper estimates only: real loads stay far below the bound.
  std::size_t remaining_bytes() const;
  void charge_bytes(std::size_t bytes);
  // Bytes charged by the engine's loads so far, this one included.
  std::size_t bytes_copied() const;

  // A base found too large for a layer without children stays too large for
  // the rest of the load (subtrees only grow, the remainder only shrinks
  // once charges are exact), so later layers like it are refused unmeasured.
  // A change callback may destroy such a base during the load, and a new
  // layer may take its address: a base is forgotten when it dies.
  bool known_too_large(const DLayer* base) const { return too_large.count(base) != 0; }
  void remember_too_large(DLayer& base);

  // Layers being finalized, on the current finalize stack.
  std::size_t nesting = 0;

 private:
  const DObject* target = nullptr;
  std::size_t bytes = 0;
  std::size_t allowance = std::numeric_limits<std::size_t>::max();
  std::size_t made_before = 0;  // by earlier loads
  std::size_t objects_before = 0;
  std::size_t charged = 0;  // by this load
  bool charges_exact = true;
  std::size_t byte_allowance = std::numeric_limits<std::size_t>::max();
  std::size_t bytes_copied_before = 0;  // by earlier loads
  std::size_t bytes_charged = 0;        // by this load
  std::map<const DLayer*, DConnectionID> too_large;
};

// The statements of a layer body, taken by lowering and by the counts that
// bound it through one walk, so that both see the same statements. Each is
// handed to `visit` as
//   visit.attribute(const DAttributeNode&, const DStateSet* set)
//   visit.group_set(const DGroupSet&, const DStateSet* set)
//   visit.layer(const DLayerNode&)
// where `set` is the state-set that holds the declaration, null outside one.
// Lowering takes them in line order (on one line: state-set, attribute,
// layer, group-set); the counts, whose sums do not depend on the order, by
// kind, without sorting.
enum class DStatementKind { state_set, attribute, layer, group_set };

template <typename Visitor>
void visit_statement(const DLayerNode& node, DStatementKind kind, std::size_t index,
                     Visitor& visit) {
  switch (kind) {
    case DStatementKind::state_set: {
      const DStateSet& set = node.state_sets[index];
      for (const auto& attribute : set.attributes) visit.attribute(attribute, &set);
      for (const auto& group_set : set.group_sets) visit.group_set(group_set, &set);
      return;
    }
    case DStatementKind::attribute:
      visit.attribute(node.attributes[index], nullptr);
      return;
    case DStatementKind::layer:
      visit.layer(node.layer_nodes[index]);
      return;
    case DStatementKind::group_set:
      visit.group_set(node.group_sets[index], nullptr);
      return;
  }
}

// A statement of a layer body and the line it starts on.
struct DStatement {
  std::size_t line;
  DStatementKind kind;
  std::size_t index;
};
// The statements of `node` in the order lowering takes them.
std::vector<DStatement> statements_in_line_order(const DLayerNode& node);

template <bool kInLineOrder, typename Visitor>
void for_each_statement(const DLayerNode& node, Visitor& visit) {
  if constexpr (kInLineOrder) {
    for (const DStatement& statement : statements_in_line_order(node)) {
      visit_statement(node, statement.kind, statement.index, visit);
    }
  } else {
    for (std::size_t i = 0; i < node.attributes.size(); ++i) {
      visit_statement(node, DStatementKind::attribute, i, visit);
    }
    for (std::size_t i = 0; i < node.group_sets.size(); ++i) {
      visit_statement(node, DStatementKind::group_set, i, visit);
    }
    for (std::size_t i = 0; i < node.state_sets.size(); ++i) {
      visit_statement(node, DStatementKind::state_set, i, visit);
    }
    for (std::size_t i = 0; i < node.layer_nodes.size(); ++i) {
      visit_statement(node, DStatementKind::layer, i, visit);
    }
  }
}

// How many objects lowering the file finds or creates, one per layer walked or
// named, attribute and state entry of each expansion, saturated at limit + 1.
// Lowering creates at most this many; it is also the work it does.
std::size_t count_lowerings(const DLayerNode& root, std::size_t limit);
// Bytes of text that lowering the file gives its objects of their own, an
// upper estimate, saturated at limit + 1: names, link paths, base paths and
// values, a long value once.
std::size_t count_lowered_bytes(const DLayerNode& root, std::size_t limit);

// Objects below `object` (not counting it) and the number of layer levels
// below it. The walk stops once more than `limit` objects are counted; the
// size is then incomplete, its height a lower bound.
// `bytes`: the texts that copies of them would hold of their own, when the
// copies land in the same tree (see copied_bytes).
struct DSubtreeSize {
  std::size_t objects = 0;
  std::size_t height = 0;
  bool complete = true;
  std::size_t bytes = 0;
};
DSubtreeSize measure_subtree(const DObject* object,
                             std::size_t limit = std::numeric_limits<std::size_t>::max());

// Layers and attributes that clone_to copies along with `object` (not counting
// it), saturated at limit + 1.
std::size_t count_copies(const DObject& object, std::size_t limit);

// Bytes of text that a copy of `object` in its own tree would hold of its
// own: a link path, a value not shared, a base path. Names are shared.
std::size_t copied_bytes(const DObject& object);

// Layer ancestors of a layer.
std::size_t layer_depth(const DLayer* layer);

}  // namespace Drelm
