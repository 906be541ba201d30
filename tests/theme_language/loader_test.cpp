#include "theme_language/loader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/drelm_tree.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/parse_tree.h"
#include "theme_language/parser.h"

namespace Drelm {
namespace {

using Texts = std::vector<std::string>;

DName name_of(std::vector<Texts> parts, std::size_t line = 0) {
  return DName{std::move(parts), line};
}

DAttributeNode attribute_node(const std::string& name, std::size_t line) {
  DAttributeNode node;
  node.declaration.name = name_of({{name}}, line);
  node.value = DLiteral{1.0};
  return node;
}

// Lowers each source text, as one file, into a fresh root with one loader.
std::unique_ptr<DLayer> lower_sources(const std::vector<std::string>& sources) {
  auto root = std::make_unique<DLayer>();
  DLoader loader(root.get());
  for (const auto& source : sources) {
    DLexer lexer(source);
    const auto tokens = lexer.build_tokens();
    DParser parser(tokens);
    const DLayerNode node = parser.parse_file();
    EXPECT_TRUE(lexer.errors().empty()) << source;
    EXPECT_TRUE(parser.errors().empty()) << source;
    loader.lower(node);
  }
  return root;
}

using support::child_names;

const DValue& state_value(DAttribute* attribute, const std::string& key) {
  return attribute->states(false).at(key)->value();
}

TEST(LoaderExpansion, names_traversals_and_declarations_expand_in_written_order) {
  EXPECT_EQ(expand(name_of({{"Button"}, {"Primary", "Secondary"}})),
            (Texts{"Button Primary", "Button Secondary"}));
  EXPECT_EQ(expand(name_of({{"Check"}, {"", "Box"}})), (Texts{"Check", "Check Box"}));
  EXPECT_EQ(expand(name_of({{"", "x"}, {"", "y"}})), (Texts{"y", "x", "x y"}));
  EXPECT_EQ(expand(name_of({{"A", "A"}})), (Texts{"A", "A"}));
  EXPECT_TRUE(expand(name_of({{""}})).empty());
  EXPECT_TRUE(expand(name_of({{"A"}, {}})).empty());
  EXPECT_TRUE(expand(DName{}).empty());

  EXPECT_EQ(expand_traversal({}), std::vector<Texts>{Texts{}});
  EXPECT_EQ(expand_traversal({name_of({{"X", "Y"}}), name_of({{"M"}})}),
            (std::vector<Texts>{{"X", "M"}, {"Y", "M"}}));
  EXPECT_TRUE(expand_traversal({name_of({{"X"}}), name_of({{""}})}).empty());

  DDeclaration declaration{{name_of({{"X", "Y"}})}, name_of({{"G", "H"}}), name_of({{"A", "B"}})};
  std::vector<std::string> flat;
  for (const auto& target : expand_declaration(declaration)) {
    ASSERT_EQ(target.layer_path.size(), 1u);
    flat.push_back(target.layer_path[0] + "/" + target.name);
  }
  EXPECT_EQ(flat, (Texts{"X/G.A", "X/G.B", "X/H.A", "X/H.B", "Y/G.A", "Y/G.B", "Y/H.A", "Y/H.B"}));
  declaration.name = name_of({{""}});
  EXPECT_TRUE(expand_declaration(declaration).empty());

  EXPECT_EQ(flatten("", "N"), "N");
  EXPECT_EQ(flatten("Corner Radii", "Top Left"), "Corner Radii.Top Left");
  EXPECT_EQ(reference_path(DReference{{"A", "B"}, "G", "N"}), "A/B/G.N");
  EXPECT_EQ(reference_path(DReference{{}, "", "N"}), "N");

  EXPECT_EQ(to_variant(DLiteral{}), DValue{});
  EXPECT_EQ(to_variant(DLiteral{true}), DValue{true});
  EXPECT_EQ(to_variant(DLiteral{2.5}), DValue{2.5});
  EXPECT_EQ(to_variant(DLiteral{std::string("12")}), DValue{std::string("12")});
  EXPECT_EQ(to_variant(DLiteral{DColor{255, 0xaa, 0xbb, 0xcc}}), DValue{std::string("#ffaabbcc")});
}

TEST(Loader, statements_are_lowered_by_line_and_equal_lines_keep_the_kind_order) {
  DLayerNode file;
  // Gathered attributes before layers, but the layer comes first by line.
  DLayerNode panel;
  panel.declaration.name = name_of({{"Panel"}}, 3);
  file.attributes.push_back(attribute_node("Late", 5));
  file.layer_nodes.push_back(panel);
  // Four kinds on one line: state-set, attribute, layer, group-set.
  DStateSet state_set{{"Hover"}, {attribute_node("S", 7)}, {}};
  DLayerNode layer;
  layer.declaration.name = name_of({{"L"}}, 7);
  DGroupSet group_set{{{}, name_of({{"G"}}, 7), name_of({}, 7)}, {attribute_node("Z", 8)}};
  file.attributes.push_back(attribute_node("A", 7));
  file.layer_nodes.push_back(layer);
  file.group_sets.push_back(group_set);
  file.state_sets.push_back(state_set);
  // A state-set with no statements sits on line 0 and does nothing.
  file.state_sets.push_back(DStateSet{{"Empty"}, {}, {}});

  DLayer root;
  DLoader(&root).lower(file);
  EXPECT_EQ(child_names(root), (Texts{"Panel", "Late", "S", "A", "L", "G.Z"}));
  EXPECT_EQ(root.find_attribute("S")->value(), DValue{});
  EXPECT_EQ(state_value(root.find_attribute("S"), "Hover"), DValue{1.0});

  // Inside a state-set block its attributes come before its group-sets.
  auto parsed = lower_sources({
      "@Hover:\n"
      "    Label.\n"
      "        Shadow: #000\n"
      "    Glow: 2\n"
      "(X, Y)/(A, B): 1\n",
  });
  EXPECT_EQ(child_names(*parsed), (Texts{"Glow", "Label.Shadow", "X", "Y"}));
  EXPECT_EQ(child_names(*parsed->find_layer("X")), (Texts{"A", "B"}));
  EXPECT_EQ(child_names(*parsed->find_layer("Y")), (Texts{"A", "B"}));

  // A group-set whose group expands to nothing declares nothing, not ungrouped names.
  DLayerNode groupless;
  groupless.group_sets.push_back(DGroupSet{
      {{name_of({{"P", "Q"}})}, name_of({{""}}, 1), name_of({}, 1)}, {attribute_node("N", 2)}});
  groupless.group_sets.push_back(DGroupSet{
      {{name_of({{"P", "Q"}})}, name_of({{"G"}}, 3), name_of({}, 3)}, {attribute_node("N", 4)}});
  DLayer groupless_root;
  DLoader(&groupless_root).lower(groupless);
  EXPECT_EQ(child_names(*groupless_root.find_layer("P")), (Texts{"G.N"}));
  EXPECT_EQ(child_names(*groupless_root.find_layer("Q")), (Texts{"G.N"}));
}

TEST(Loader, which_value_wins_within_one_file) {
  auto root = lower_sources({
      "A:\n"
      "    Fill: #111\n"
      "    Size: Theme/Size\n"
      "    Size: 3\n"
      "    Gap: 2\n"
      "    Gap: Theme/Gap\n"
      "    Fill: #222 @Narrow: #333\n"
      "    @Mobile & Narrow:\n"
      "        Fill: #444\n"
      "    @Narrow:\n"
      "        Fill: #555\n"
      "        Edge: 1\n"
      "        Width: 7\n"
      "    @Narrow:\n"
      "        Width: 8\n"
      "    Edge: 0 @Narrow: 9\n"
      "    @Narrow & Mobile:\n"
      "        Fill: #777\n"
      "B << A:\n"
      "    X: 1\n"
      "B:\n"
      "    Y: 2\n"
      "C << A\n"
      "C << B\n"
      "A:\n"
      "    Fill: #666\n",
  });
  DLayer* a = root->find_layer("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(child_names(*root), (Texts{"A", "B", "C"}));
  EXPECT_EQ(child_names(*a), (Texts{"Fill", "Size", "Gap", "Edge", "Width"}));

  DAttribute* fill = a->find_attribute("Fill");
  EXPECT_EQ(fill->value(), DValue{std::string("#ff666666")});
  EXPECT_EQ(child_names(*fill), (Texts{"Narrow", "Mobile:Narrow"}));
  EXPECT_EQ(state_value(fill, "Narrow"), DValue{std::string("#ff333333")});
  EXPECT_EQ(state_value(fill, "Mobile:Narrow"), DValue{std::string("#ff777777")});

  DAttribute* size = a->find_attribute("Size");
  EXPECT_EQ(size->link(), nullptr);
  EXPECT_EQ(size->value(), DValue{3.0});
  DAttribute* gap = a->find_attribute("Gap");
  ASSERT_NE(gap->link(), nullptr);
  EXPECT_EQ(gap->link()->path, "Theme/Gap");
  EXPECT_EQ(gap->value(), DValue{});

  // An own state entry overwrites an earlier block; later blocks overwrite earlier ones.
  EXPECT_EQ(state_value(a->find_attribute("Edge"), "Narrow"), DValue{9.0});
  DAttribute* width = a->find_attribute("Width");
  EXPECT_EQ(width->value(), DValue{});
  EXPECT_EQ(child_names(*width), (Texts{"Narrow"}));
  EXPECT_EQ(state_value(width, "Narrow"), DValue{8.0});

  EXPECT_EQ(child_names(*root->find_layer("B")), (Texts{"X", "Y"}));
  EXPECT_EQ(root->find_layer("B")->base_path(), "A");
  EXPECT_EQ(root->find_layer("C")->base_path(), "B");
}

TEST(Loader, own_state_priority_lasts_one_file_and_values_are_typed) {
  auto root = lower_sources({
      "A:\n    Fill: #111 @Narrow: #333\n    On: true\n    Text: \"12\"\n",
      "A:\n    @Narrow:\n        Fill: #555\n",
  });
  DLayer* a = root->find_layer("A");
  EXPECT_EQ(state_value(a->find_attribute("Fill"), "Narrow"), DValue{std::string("#ff555555")});
  EXPECT_EQ(a->find_attribute("On")->value(), DValue{true});
  EXPECT_EQ(a->find_attribute("Text")->value(), DValue{std::string("12")});
}

}  // namespace
}  // namespace Drelm
