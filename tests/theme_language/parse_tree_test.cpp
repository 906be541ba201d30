#include "theme_language/parse_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace Drelm {
namespace {

TEST(ParseTree, colors_print_as_eight_lower_case_digits_alpha_first) {
  EXPECT_EQ(to_string(DColor{0xff, 0xaa, 0xbb, 0xcc}), "#ffaabbcc");
  EXPECT_EQ(to_string(DColor{0xaa, 0xbb, 0xcc, 0xdd}), "#aabbccdd");
  EXPECT_EQ(to_string(DColor{0xff, 0x12, 0x34, 0x56}), "#ff123456");
  EXPECT_EQ(to_string(DColor{0x0a, 0x0b, 0x0c, 0x0d}), "#0a0b0c0d");
  EXPECT_EQ(to_string(DColor{}), "#00000000");
  // Out-of-range channels are printed whole, never cut or overflowing.
  EXPECT_EQ(to_string(DColor{0xffffffff, 0x100, 0, 1}), "#ffffffff1000001");
}

DName name_of(const std::string& word, std::size_t line) { return DName{{{word}}, line}; }

DAttributeNode attribute(const std::string& name, DExpression value) {
  DAttributeNode node;
  node.declaration.name = name_of(name, 1);
  node.value = std::move(value);
  return node;
}

TEST(ParseTree, copying_a_layer_node_copies_the_whole_subtree) {
  DLayerNode source;
  source.declaration.traversal = {name_of("Theme", 1)};
  source.declaration.name = DName{{{"Button"}, {"Primary", "Secondary"}}, 2};
  source.inherits = DReference{{"Base"}, "Group", "Plain"};

  DLayerNode child;
  child.declaration.name = name_of("Inner", 3);
  DAttributeNode fill = attribute("Fill", DLiteral{DColor{0xff, 1, 2, 3}});
  DState hover;
  hover.conditions = {"Hover"};
  hover.value = DLiteral{std::string("x")};
  fill.states.push_back(hover);
  child.attributes.push_back(fill);
  source.layer_nodes.push_back(child);

  DGroupSet group;
  group.declaration.group = name_of("Colors", 4);
  group.attributes.push_back(attribute("Accent", DReference{{}, "", "Primary"}));
  source.group_sets.push_back(group);

  DStateSet set;
  set.conditions = {"Hover", "Pressed"};
  set.attributes.push_back(attribute("Size", DLiteral{2.0}));
  set.group_sets.push_back(group);
  source.state_sets.push_back(set);

  DLayerNode copy = source;
  copy.declaration.traversal[0].parts[0][0] = "Changed";
  copy.declaration.name.parts[1].push_back("Third");
  copy.inherits->name = "Other";
  copy.layer_nodes[0].attributes[0].states[0].conditions[0] = "Pressed";
  std::get<DColor>(std::get<DLiteral>(copy.layer_nodes[0].attributes[0].value)).red = 9;
  std::get<DReference>(copy.group_sets[0].attributes[0].value).name = "Secondary";
  copy.state_sets[0].conditions.clear();
  copy.state_sets[0].group_sets[0].attributes.clear();

  EXPECT_EQ(source.declaration.traversal[0].parts[0][0], "Theme");
  EXPECT_EQ(source.declaration.name.parts[1].size(), 2u);
  EXPECT_EQ(source.inherits->name, "Plain");
  EXPECT_EQ(source.layer_nodes[0].attributes[0].states[0].conditions[0], "Hover");
  EXPECT_EQ(std::get<DColor>(std::get<DLiteral>(source.layer_nodes[0].attributes[0].value)).red,
            1u);
  EXPECT_EQ(std::get<DReference>(source.group_sets[0].attributes[0].value).name, "Primary");
  EXPECT_EQ(source.state_sets[0].conditions.size(), 2u);
  EXPECT_EQ(source.state_sets[0].group_sets[0].attributes.size(), 1u);

  // The copy carries everything that was not changed.
  EXPECT_EQ(copy.declaration.name.line, 2u);
  EXPECT_EQ(copy.inherits->group, "Group");
  EXPECT_EQ(
      std::get<std::string>(std::get<DLiteral>(copy.layer_nodes[0].attributes[0].states[0].value)),
      "x");

  DDeclaration assigned;
  assigned = source.declaration;
  assigned.name.parts.clear();
  EXPECT_EQ(source.declaration.name.parts.size(), 2u);

  const DLayerNode empty;
  EXPECT_FALSE(empty.inherits.has_value());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(DLiteral{}));
  EXPECT_EQ(empty.declaration.name.line, 0u);
}

}  // namespace
}  // namespace Drelm
