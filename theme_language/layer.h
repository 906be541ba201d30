#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "theme_language/object.h"

namespace Drelm {

class DAttribute;
class DLoadBudget;

// One layer declaration of the theme language: child layers and attributes.
class DLayer : public DObject {
 public:
  // Unnamed for the engine's root; named for every declared layer.
  DLayer();
  explicit DLayer(const std::string& name);
  ~DLayer() override;

  // The layer inherited from: the path written after "<<" and, once resolved,
  // the layer it names.
  DLayer* base() const;
  std::string base_path() const;
  void set_base_path(const std::string& path);
  bool has_unresolved_base() const;

  // Navigation: the layer parents, the child layers and attributes, and the
  // path from the root.
  DLayer* parent() const;
  DLayer* root();
  DLayer* namespace_root();
  std::vector<DLayer*> children() const;
  std::vector<DAttribute*> attributes() const;
  std::string path() const;

  // Look-ups of layers by path below this one and of its own attributes by
  // name; null when nothing matches. They never go up the tree or into bases.
  DLayer* find_layer(std::deque<std::string> names);
  DLayer* find_layer(const std::string& path);
  // Direct child attribute by exact name, through a cache keyed by children_version.
  DAttribute* find_attribute(std::string_view name);
  DAttribute* find_attribute(const std::string& name);
  DAttribute* find_attribute(const char* name);

  // Resolves every link below: attributes first, then child layers, depth-first.
  void resolve_links();

  // Inheritance: after a load, bases are resolved and merged into the layers
  // that derive from them; clone_to copies this layer's subtree elsewhere.
  void resolve_bases();
  void finalize();
  void clone_to(DObject* parent) const;
  std::set<DLayer*> dependencies() const;

 private:
  // The engine's way to finalize within the bounds of one load.
  friend void finalize_in_load(DLayer& layer, DLoadBudget& budget);
  // The library's quick ways through the look-up caches.
  friend struct DLayerAccess;

  struct Impl;
  std::unique_ptr<Impl> impl;
  bool finalizing = false;
  bool finalized = false;
};

// Calls `piece` with each piece of `text` between separators, as lines
// delimited by them: a trailing separator adds no empty piece, the empty text
// gives nothing.
template <typename F>
void for_each_piece(std::string_view text, char separator, F&& piece) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      piece(text.substr(start));
      return;
    }
    piece(text.substr(start, end - start));
    start = end + 1;
  }
}

// Cuts text at every separator, as for_each_piece does.
template <typename Container>
Container split(const std::string& text, char separator) {
  Container pieces;
  for_each_piece(text, separator, [&pieces](std::string_view piece) {
    pieces.push_back(typename Container::value_type(piece));
  });
  return pieces;
}

// The attribute a link path names, seen from the linked attribute; null when none.
DAttribute* find_link_target(DAttribute* attribute, const std::string& link_path);

}  // namespace Drelm
