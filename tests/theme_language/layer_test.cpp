#include "theme_language/layer.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "theme_language/attribute.h"

namespace Drelm {
namespace {

TEST(DLayer, navigation_stops_at_the_root_and_the_top_level) {
  DLayer root;
  auto* ns = dMake<DLayer>(&root, "Ombrix");
  auto* button = dMake<DLayer>(ns, "Button");
  auto* label = dMake<DLayer>(button, "Label");
  auto* attribute = dMake<DAttribute>(button, "Color");
  auto* under_attribute = dMake<DLayer>(attribute, "Odd");

  EXPECT_EQ(root.parent(), nullptr);
  EXPECT_EQ(label->parent(), button);
  EXPECT_EQ(under_attribute->parent(), nullptr);  // its parent is no layer
  EXPECT_EQ(label->root(), &root);
  EXPECT_EQ(root.root(), &root);
  EXPECT_EQ(under_attribute->root(), under_attribute);
  EXPECT_EQ(label->namespace_root(), ns);
  EXPECT_EQ(ns->namespace_root(), ns);
  EXPECT_EQ(root.namespace_root(), &root);

  EXPECT_EQ(button->children(), (std::vector<DLayer*>{label}));
  EXPECT_EQ(button->attributes(), (std::vector<DAttribute*>{attribute}));
  EXPECT_TRUE(label->children().empty());
}

TEST(DLayer, path_skips_unnamed_ancestors_but_not_the_own_name) {
  DLayer root;
  auto* x = dMake<DLayer>(&root, "X");
  auto* y = dMake<DLayer>(x, "Y");
  auto* z = dMake<DLayer>(y, "Z");
  auto* unnamed = dMake<DLayer>(x, "");
  auto* below_unnamed = dMake<DLayer>(unnamed, "Z");

  EXPECT_EQ(root.path(), "");
  EXPECT_EQ(x->path(), "X");
  EXPECT_EQ(z->path(), "X/Y/Z");
  EXPECT_EQ(below_unnamed->path(), "X/Z");
  EXPECT_EQ(unnamed->path(), "X/");
  EXPECT_EQ(DLayer("Alone").path(), "Alone");
}

TEST(DLayer, split_reads_pieces_as_delimited_lines) {
  using Pieces = std::deque<std::string>;
  EXPECT_EQ(split<Pieces>("a/b", '/'), (Pieces{"a", "b"}));
  EXPECT_EQ(split<Pieces>("a//b", '/'), (Pieces{"a", "", "b"}));
  EXPECT_EQ(split<Pieces>("/a", '/'), (Pieces{"", "a"}));
  EXPECT_EQ(split<Pieces>("a/", '/'), (Pieces{"a"}));
  EXPECT_EQ(split<Pieces>("/", '/'), (Pieces{""}));
  EXPECT_EQ(split<Pieces>("", '/'), Pieces{});
}

TEST(DLayer, find_layer_walks_down_by_exact_names_only) {
  DLayer root;
  auto* a = dMake<DLayer>(&root, "A");
  auto* b = dMake<DLayer>(a, "B");
  dMake<DLayer>(a, "B");  // a second B is never found
  dMake<DAttribute>(a, "C");
  auto* unnamed = dMake<DLayer>(a, "");
  auto* under_unnamed = dMake<DLayer>(unnamed, "B");

  EXPECT_EQ(root.find_layer("A"), a);
  EXPECT_EQ(root.find_layer("A/B"), b);
  EXPECT_EQ(root.find_layer("A/B/"), b);
  EXPECT_EQ(root.find_layer(std::deque<std::string>{"A", "B"}), b);
  EXPECT_EQ(root.find_layer(""), nullptr);
  EXPECT_EQ(root.find_layer(std::deque<std::string>{}), nullptr);
  EXPECT_EQ(root.find_layer("A/C"), nullptr);  // an attribute is no layer
  EXPECT_EQ(root.find_layer("a"), nullptr);
  EXPECT_EQ(root.find_layer("B"), nullptr);   // never searches deeper on its own
  EXPECT_EQ(b->find_layer("A"), nullptr);     // never goes up
  EXPECT_EQ(root.find_layer("/A"), nullptr);  // asks the root for an unnamed child
  EXPECT_EQ(root.find_layer("A//B"), under_unnamed);
  EXPECT_EQ(root.find_layer("A/B/X"), nullptr);
}

TEST(DLayer, find_attribute_follows_changes_of_the_child_list) {
  DLayer layer;
  dMake<DLayer>(&layer, "Fill");
  EXPECT_EQ(layer.find_attribute("Width"), nullptr);

  auto* width = dMake<DAttribute>(&layer, "Width");
  auto* start = dMake<DAttribute>(&layer, "Fill.Start Color");
  EXPECT_EQ(layer.find_attribute("Width"), width);
  EXPECT_EQ(layer.find_attribute(std::string("Fill.Start Color")), start);
  const std::string text = "Fill.Start Color and more";
  EXPECT_EQ(layer.find_attribute(std::string_view(text).substr(0, 16)), start);
  EXPECT_EQ(layer.find_attribute("Fill"), nullptr);  // a layer is no attribute
  EXPECT_EQ(layer.find_attribute(""), nullptr);
  EXPECT_EQ(layer.find_attribute(static_cast<const char*>(nullptr)), nullptr);

  // A later attribute of the same name wins; its removal brings the first back.
  auto* second_width = dMake<DAttribute>(&layer, "Width");
  EXPECT_EQ(layer.find_attribute("Width"), second_width);
  layer.destroy_child(second_width);
  EXPECT_EQ(layer.find_attribute("Width"), width);

  // Reordering is a change of the list too.
  auto* third_width = dMake<DAttribute>(&layer, "Width");
  EXPECT_EQ(layer.find_attribute("Width"), third_width);
  layer.reorder_children({third_width, width});
  EXPECT_EQ(layer.find_attribute("Width"), width);

  // A state attribute is a child of its attribute, not of the layer.
  dMake<DAttribute>(width, "Hover");
  EXPECT_EQ(layer.find_attribute("Hover"), nullptr);

  // An attribute being removed is no longer handed out to its own callbacks.
  DAttribute* seen_while_dying = width;
  auto* dying = dMake<DAttribute>(&layer, "Dying");
  EXPECT_EQ(layer.find_attribute("Dying"), dying);
  dying->on_destroyed([&] { seen_while_dying = layer.find_attribute("Dying"); });
  layer.destroy_child(dying);
  EXPECT_EQ(seen_while_dying, nullptr);
}

TEST(DLayer, base_path_and_unresolved_base) {
  DLayer layer("L");
  EXPECT_EQ(layer.base(), nullptr);
  EXPECT_EQ(layer.base_path(), "");
  EXPECT_FALSE(layer.has_unresolved_base());
  layer.set_base_path("Nowhere/Else");
  EXPECT_EQ(layer.base_path(), "Nowhere/Else");
  EXPECT_TRUE(layer.has_unresolved_base());
}

TEST(DLayer, resolve_links_reaches_attributes_of_nested_layers) {
  DLayer root;
  auto* theme = dMake<DLayer>(&root, "Theme");
  auto* accent = dMake<DAttribute>(theme, "Accent");
  accent->set_value(std::string("#ff0000ff"));
  auto* button = dMake<DLayer>(dMake<DLayer>(&root, "Ombrix"), "Button");
  auto* color = dMake<DAttribute>(button, "Color");
  color->create_link("Theme/Accent");

  root.resolve_links();
  ASSERT_NE(color->link(), nullptr);
  EXPECT_EQ(color->link()->target, accent);
}

}  // namespace
}  // namespace Drelm
