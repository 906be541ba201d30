#include "app_model/internal/app_internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace Ombrix {

namespace {

template <typename T>
bool differs(const T& a, const T& b) {
  return a != b;
}

// A number that kept its value is no change: a NaN met again is the same NaN.
// -0.0 equals 0.0, as both lay out alike.
bool differs(double a, double b) { return a != b && !(std::isnan(a) && std::isnan(b)); }

template <std::size_t I>
bool field_differs(const ResolvedStyle& a, const ResolvedStyle& b) {
  constexpr auto& field = std::get<I>(kStyleFields);
  if constexpr (field.shown == StyleShown::hidden) {
    return false;
  } else {
    constexpr auto member = std::remove_cvref_t<decltype(field)>::member;
    return differs(a.*member, b.*member);
  }
}

// Hidden fields steer render-tree building only: changing just them gives no patch.
template <std::size_t... I>
bool style_differs(const ResolvedStyle& a, const ResolvedStyle& b, std::index_sequence<I...>) {
  return (field_differs<I>(a, b) || ...);
}

bool style_differs(const ResolvedStyle& a, const ResolvedStyle& b) {
  return style_differs(a, b, std::make_index_sequence<std::tuple_size_v<decltype(kStyleFields)>>{});
}

bool content_differs(const RenderNode& a, const RenderNode& b) {
  return a.text != b.text || a.comboOptions != b.comboOptions ||
         a.comboSelected != b.comboSelected || style_differs(a.style, b.style);
}

}  // namespace

namespace {

// A child's name and its position among its siblings.
struct NameEntry {
  std::string_view name;
  std::size_t index;
};

bool entry_less(const NameEntry& a, const NameEntry& b) {
  return a.name < b.name || (a.name == b.name && a.index < b.index);
}

bool entry_name_less(std::string_view name, const NameEntry& entry) { return name < entry.name; }

// A patch found by the walk, made once the walk has counted them all: the
// list is then reserved once, and no patch with its node and style is moved
// while it grows. `node` is the new node (the old one for a removal), `parent`
// the new parent of an insertion.
struct PendingPatch {
  PatchKind kind;
  const RenderNode* node;
  const RenderNode* parent;
  std::int32_t index;
};

// True when both lists hold the same names in the same order, none twice.
// Uses the scratch space behind its current end and leaves it as it was.
bool same_unique_names(const std::vector<RenderNode>& old_children,
                       const std::vector<RenderNode>& new_children,
                       std::vector<NameEntry>& scratch) {
  const std::size_t count = new_children.size();
  if (old_children.size() != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (old_children[i].name != new_children[i].name) return false;
  }
  if (count <= 8) {
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = i + 1; j < count; ++j) {
        if (new_children[i].name == new_children[j].name) return false;
      }
    }
    return true;
  }
  const std::size_t base = scratch.size();
  if (scratch.capacity() < base + count) {
    scratch.reserve(std::max(base + count, 2 * scratch.capacity()));
  }
  for (std::size_t i = 0; i < count; ++i) scratch.push_back(NameEntry{new_children[i].name, i});
  const auto begin = scratch.begin() + static_cast<std::ptrdiff_t>(base);
  std::sort(begin, scratch.end(), entry_less);
  const bool unique =
      std::adjacent_find(begin, scratch.end(), [](const NameEntry& a, const NameEntry& b) {
        return a.name == b.name;
      }) == scratch.end();
  scratch.resize(base);
  return unique;
}

// The look-up tables of every level live in one scratch vector: a level appends its
// two sorted runs, its children append theirs behind them, and the level cuts them
// off when it is done. Sorted runs searched by bisection order names as ordered maps
// do, without a heap node per child.
void diff_nodes(const RenderNode& old_node, const RenderNode& new_node,
                std::vector<PendingPatch>& out, std::vector<NameEntry>& scratch) {
  if (old_node.type != new_node.type) {
    out.push_back(PendingPatch{PatchKind::replace, &new_node, nullptr, 0});
    return;
  }
  if (content_differs(old_node, new_node)) {
    out.push_back(PendingPatch{PatchKind::update, &new_node, nullptr, 0});
  }
  if (old_node.children.empty() && new_node.children.empty()) return;

  const std::size_t old_count = old_node.children.size();
  const std::size_t new_count = new_node.children.size();
  // The usual case: the same names in the same order, each once. Then every
  // new child matches the old one at its place, nothing is removed or
  // inserted, and the name tables below are not needed.
  if (same_unique_names(old_node.children, new_node.children, scratch)) {
    for (std::size_t i = 0; i < new_count; ++i) {
      diff_nodes(old_node.children[i], new_node.children[i], out, scratch);
    }
    return;
  }
  const std::size_t base = scratch.size();
  const std::size_t new_base = base + old_count;
  // Grown geometrically: every level of a deep tree asks for a little more room, and
  // an exact reserve would copy the whole vector at each of them.
  if (scratch.capacity() < new_base + new_count) {
    scratch.reserve(std::max(new_base + new_count, 2 * scratch.capacity()));
  }
  for (std::size_t i = 0; i < old_count; ++i) {
    scratch.push_back(NameEntry{old_node.children[i].name, i});
  }
  for (std::size_t i = 0; i < new_count; ++i) {
    scratch.push_back(NameEntry{new_node.children[i].name, i});
  }
  // Among old children of one name the last in child order ends its run and wins.
  std::sort(scratch.begin() + static_cast<std::ptrdiff_t>(base),
            scratch.begin() + static_cast<std::ptrdiff_t>(new_base), entry_less);
  std::sort(scratch.begin() + static_cast<std::ptrdiff_t>(new_base), scratch.end(), entry_less);

  // The latest entry of that name in the run [first, last), or null.
  const auto find = [&scratch](std::size_t first, std::size_t last,
                               std::string_view name) -> const NameEntry* {
    const auto begin = scratch.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = scratch.begin() + static_cast<std::ptrdiff_t>(last);
    const auto it = std::upper_bound(begin, end, name, entry_name_less);
    if (it == begin || std::prev(it)->name != name) return nullptr;
    return &*std::prev(it);
  };

  for (const RenderNode& child : old_node.children) {
    if (find(new_base, new_base + new_count, child.name) != nullptr) continue;
    out.push_back(PendingPatch{PatchKind::remove, &child, nullptr, 0});
  }

  const auto count = static_cast<std::int32_t>(new_count);
  for (std::int32_t i = 0; i < count; ++i) {
    const RenderNode& child = new_node.children[static_cast<std::size_t>(i)];
    // The children's own runs go behind this level's and are cut off again, so the
    // positions of this level's runs hold across the call.
    if (const NameEntry* match = find(base, new_base, child.name)) {
      diff_nodes(old_node.children[match->index], child, out, scratch);
      continue;
    }
    out.push_back(PendingPatch{PatchKind::insert, &child, &new_node, i});
  }
  scratch.resize(base);
}

// Writes the patch in place at the end of `out`.
void make_patch(const PendingPatch& pending, std::vector<Patch>& out) {
  Patch& patch = out.emplace_back();
  patch.kind = pending.kind;
  const RenderNode& node = *pending.node;
  patch.path = node.path;
  switch (pending.kind) {
    case PatchKind::replace: {
      const std::size_t slash = node.path.rfind('/');
      if (slash != std::string::npos) patch.parentPath.assign(node.path, 0, slash);
      patch.node = node;
      break;
    }
    case PatchKind::update:
      // The node without its subtree: an update refreshes one node, its
      // children get patches of their own.
      patch.node.type = node.type;
      patch.node.name = node.name;
      patch.node.path = node.path;
      patch.node.text = node.text;
      patch.node.style = node.style;
      patch.node.comboOptions = node.comboOptions;
      patch.node.comboSelected = node.comboSelected;
      break;
    case PatchKind::insert:
      patch.parentPath = pending.parent->path;
      patch.index = pending.index;
      patch.node = node;
      break;
    case PatchKind::remove:
    case PatchKind::editorvalue:
      break;
  }
}

}  // namespace

void diff_matched(const RenderNode& old_node, const RenderNode& new_node, std::vector<Patch>& out) {
  std::vector<NameEntry> scratch;
  std::vector<PendingPatch> pending;
  diff_nodes(old_node, new_node, pending, scratch);
  out.reserve(out.size() + pending.size());
  for (const PendingPatch& entry : pending) make_patch(entry, out);
}

std::vector<Patch> OApp::render_patches() {
  RenderNode tree = build_render_tree();
  std::vector<Patch> patches;
  if (previous_tree == nullptr) {
    Patch patch;
    patch.kind = PatchKind::insert;
    patch.path = tree.path;
    patch.node = tree;
    patches.push_back(std::move(patch));
  } else {
    diff_matched(*previous_tree, tree, patches);
  }

  // Everything that may throw happens before the model moves on, so a failure leaves
  // the kept tree and the editor queue as they were.
  auto next_tree = std::make_unique<RenderNode>(std::move(tree));
  patches.reserve(patches.size() + pending_editor_values.size());
  for (auto& [path, text] : pending_editor_values) {
    Patch patch;
    patch.kind = PatchKind::editorvalue;
    patch.path = std::move(path);
    patch.node.text = std::move(text);
    patches.push_back(std::move(patch));
  }
  previous_tree = std::move(next_tree);
  pending_editor_values.clear();
  return patches;
}

}  // namespace Ombrix
