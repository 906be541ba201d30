#pragma once

#include <memory>
#include <string>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/parse_tree.h"

namespace Drelm {

class DLayer;

// One expanded declaration: the layers to walk from the current one, then the
// final (grouped) name.
struct DTarget {
  std::vector<std::string> layer_path;
  std::string name;
};

// group + "." + name; the name alone when the group is empty.
std::string flatten(const std::string& group, const std::string& name);
// Link or base path text: each traversal name followed by "/", then the grouped name.
std::string reference_path(const DReference& reference);
// Colours become their "#aarrggbb" text; the other alternatives keep their value.
DValue to_variant(const DLiteral& literal);
// Every expansion of a name, first part varying slowest; empty texts are dropped.
std::vector<std::string> expand(const DName& name);
std::vector<std::vector<std::string>> expand_traversal(const std::vector<DName>& names);
std::vector<DTarget> expand_declaration(const DDeclaration& declaration);

// Lowers the parse trees of files into layers and attributes below a target
// layer, merging by name with what is already there. Reports nothing.
class DLoader {
 public:
  // The target is not owned; it must outlive the loader.
  explicit DLoader(DLayer* target);
  ~DLoader();
  DLoader(const DLoader&) = delete;
  DLoader& operator=(const DLoader&) = delete;

  // Lowers the top-level statements of a file's root node into the target.
  void lower(const DLayerNode& root);
  void lower_statements(const DLayerNode& node, DLayer* layer);
  // `states` holds the conditions of the enclosing state-set, empty outside one.
  void lower_attribute(const DAttributeNode& node, const DTarget& target, DLayer* layer,
                       const std::vector<std::string>& states);
  void lower_group_set(const DGroupSet& group_set, DLayer* layer,
                       const std::vector<std::string>& states);
  // Finds or creates the state attribute for the entry's conditions and gives it
  // the entry's value; an attribute's own entries beat state-set blocks of one file.
  DAttribute* state(const DState& entry, DAttribute* attribute, bool from_state_set);
  void apply(DAttribute* attribute, const DExpression& expression);

  // Find-or-create helpers; created objects are owned by `layer`.
  DAttribute* attribute(const std::string& name, DLayer* layer);
  DLayer* layer(const std::string& name, DLayer* layer);
  // An empty list gives `layer` itself.
  DLayer* layer(const std::vector<std::string>& names, DLayer* layer);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace Drelm
