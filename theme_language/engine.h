#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace Drelm {

class DLayer;

// A link left without a target: its path names nothing, or (cyclic) its chain
// leads back to the linked attribute.
struct DUnresolvedLink {
  std::string attribute_path;
  std::string link_path;
  bool cyclic = false;
};

// Entry point of the theme language: owns the layer tree under an unnamed root
// and loads directories of ".drl" files into it.
class DEngine {
 public:
  // The engine owns the root and with it the whole tree.
  DEngine();
  ~DEngine();
  DEngine(const DEngine&) = delete;
  DEngine& operator=(const DEngine&) = delete;

  // Loads every ".drl" file below directory into the namespace layer of that
  // name (the root when empty), then applies inheritance on that target.
  void load_files(const std::string& directory, const std::string& namespace_name);

  // The tree: its root, and layers by path below it (null when missing).
  DLayer* root() const;
  DLayer* find_layer(const std::string& path) const;
  DLayer* find_layer(std::deque<std::string> names) const;

  // Links, resolved after the last load; unresolved_links lists those left
  // without a target.
  void resolve_links();
  std::vector<DUnresolvedLink> unresolved_links() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace Drelm
