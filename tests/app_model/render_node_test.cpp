#include "app_model/render_node.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

using Ombrix::ComboOption;
using Ombrix::NodeType;
using Ombrix::RenderNode;

RenderNode three_levels() {
  RenderNode root;
  root.name = "App";
  root.path = "App";
  RenderNode child;
  child.name = "Bar";
  child.path = "App/Bar";
  RenderNode grandchild;
  grandchild.type = NodeType::text;
  grandchild.name = "Title";
  grandchild.path = "App/Bar/Title";
  grandchild.text = "Hello";
  child.children.push_back(grandchild);
  root.children.push_back(child);
  root.comboOptions.push_back(ComboOption{"a", "A"});
  root.style.opacity = 0.5;
  return root;
}

TEST(RenderNode, default_node_is_an_empty_box_with_the_default_style) {
  const RenderNode node;
  EXPECT_EQ(node.type, NodeType::box);
  EXPECT_EQ(node.name, "");
  EXPECT_EQ(node.path, "");
  EXPECT_EQ(node.text, "");
  EXPECT_EQ(node.style.opacity, 1.0);
  EXPECT_EQ(node.style.shrink, -1.0);
  EXPECT_TRUE(node.style.visible);
  EXPECT_TRUE(node.style.wrap);
  EXPECT_TRUE(node.children.empty());
  EXPECT_TRUE(node.comboOptions.empty());
  EXPECT_EQ(node.comboSelected, "");
  const Ombrix::Patch patch;
  EXPECT_EQ(patch.kind, Ombrix::PatchKind::insert);
  EXPECT_EQ(patch.index, 0);
}

TEST(RenderNode, copies_are_deep_and_moves_empty_the_source) {
  const RenderNode source = three_levels();
  RenderNode copy = source;
  copy.children[0].children[0].text = "Changed";
  EXPECT_EQ(source.children[0].children[0].text, "Hello");
  EXPECT_EQ(copy.children[0].children[0].path, "App/Bar/Title");

  RenderNode assigned;
  assigned = source;
  assigned.children[0].children[0].name = "Other";
  EXPECT_EQ(source.children[0].children[0].name, "Title");
  RenderNode& alias = assigned;
  assigned = alias;
  EXPECT_EQ(assigned.children[0].children.size(), 1u);
  EXPECT_EQ(assigned.comboOptions.size(), 1u);

  RenderNode from = three_levels();
  RenderNode moved(std::move(from));
  EXPECT_TRUE(from.children.empty());
  EXPECT_TRUE(from.comboOptions.empty());
  EXPECT_EQ(moved.children[0].children[0].text, "Hello");
  EXPECT_EQ(moved.style.opacity, 0.5);
  EXPECT_EQ(moved.comboOptions[0], (ComboOption{"a", "A"}));

  RenderNode target = three_levels();
  target = std::move(moved);
  EXPECT_TRUE(moved.children.empty());
  EXPECT_TRUE(moved.comboOptions.empty());
  EXPECT_EQ(target.children[0].name, "Bar");
  RenderNode& self = target;
  target = std::move(self);
  EXPECT_EQ(target.children.size(), 1u);
}

TEST(RenderNode, a_node_can_be_assigned_one_of_its_own_descendants) {
  // Replacing a node by a child releases the subtree the child lives in.
  RenderNode moved = three_levels();
  moved = std::move(moved.children[0]);
  EXPECT_EQ(moved.name, "Bar");
  ASSERT_EQ(moved.children.size(), 1u);
  EXPECT_EQ(moved.children[0].text, "Hello");
  EXPECT_TRUE(moved.comboOptions.empty());
  EXPECT_EQ(moved.style.opacity, 1.0);

  RenderNode copied = three_levels();
  copied = copied.children[0].children[0];
  EXPECT_EQ(copied.path, "App/Bar/Title");
  EXPECT_EQ(copied.type, NodeType::text);
  EXPECT_TRUE(copied.children.empty());
  EXPECT_TRUE(copied.comboOptions.empty());
}

}  // namespace
