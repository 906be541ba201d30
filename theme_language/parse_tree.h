#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace Drelm {

// A declaration name; each part is a list of expansion alternatives.
struct DName {
  std::vector<std::vector<std::string>> parts;
  std::size_t line = 0;
};

struct DDeclaration {
  std::vector<DName> traversal;
  DName group;
  DName name;
};

// A reference written as a value or after "<<"; never with alternatives.
struct DReference {
  std::vector<std::string> traversal;
  std::string group;
  std::string name;
};

struct DColor {
  std::uint32_t alpha = 0;
  std::uint32_t red = 0;
  std::uint32_t green = 0;
  std::uint32_t blue = 0;
};

// Note the order differs from DValue's; the loader converts.
using DLiteral = std::variant<std::monostate, bool, double, std::string, DColor>;
using DExpression = std::variant<DLiteral, DReference>;

struct DState {
  std::vector<std::string> conditions;
  DExpression value;
};

struct DAttributeNode {
  DDeclaration declaration;
  DExpression value;
  std::vector<DState> states;
};

struct DGroupSet {
  DDeclaration declaration;
  std::vector<DAttributeNode> attributes;
};

struct DStateSet {
  std::vector<std::string> conditions;
  std::vector<DAttributeNode> attributes;
  std::vector<DGroupSet> group_sets;
};

// A layer declaration with its body; also the root of a file.
struct DLayerNode {
  DDeclaration declaration;
  std::optional<DReference> inherits;
  std::vector<DLayerNode> layer_nodes;
  std::vector<DAttributeNode> attributes;
  std::vector<DGroupSet> group_sets;
  std::vector<DStateSet> state_sets;
};

// "#aarrggbb" in lower case, alpha first.
std::string to_string(DColor color);

}  // namespace Drelm
