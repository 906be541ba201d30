#include "theme_language/attribute.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "theme_language/layer.h"

namespace Drelm {
namespace {

using Names = std::vector<std::string>;

DAttribute* add_state(DAttribute* attribute, const std::string& name, double value) {
  auto* state = dMake<DAttribute>(attribute, name);
  state->set_value(DValue(value));
  return state;
}

std::vector<std::string> names_of(const std::map<std::string, DAttribute*, std::less<>>& states) {
  std::vector<std::string> names;
  for (const auto& entry : states) names.push_back(entry.first);
  return names;
}

TEST(Attribute, path_joins_layers_with_slash_and_states_with_dot) {
  DAttribute loose("Loose");
  EXPECT_EQ(loose.path(), "Loose");

  DLayer root;
  auto* on_root = dMake<DAttribute>(&root, "Scale");
  EXPECT_EQ(on_root->path(), "Scale");

  auto* a = dMake<DLayer>(&root, "A");
  auto* fill = dMake<DAttribute>(a, "Fill");
  auto* hover = dMake<DAttribute>(fill, "Hover");
  auto* deeper = dMake<DAttribute>(hover, "Pressed");
  EXPECT_EQ(fill->path(), "A/Fill");
  EXPECT_EQ(hover->path(), "A/Fill.Hover");
  EXPECT_EQ(deeper->path(), "A/Fill.Hover.Pressed");

  // An unnamed layer in the middle adds no piece.
  auto* unnamed = dMake<DLayer>(a, "");
  auto* b = dMake<DLayer>(unnamed, "B");
  EXPECT_EQ(dMake<DAttribute>(b, "Corner Radii.Top Left")->path(), "A/B/Corner Radii.Top Left");

  // A parent that is neither a layer nor an attribute contributes nothing.
  DObject plain;
  EXPECT_EQ(dMake<DAttribute>(&plain, "Orphan")->path(), "Orphan");
}

TEST(Attribute, state_with_most_active_conditions_wins_and_ties_go_to_first_name) {
  DLayer root;
  auto* fill = dMake<DAttribute>(dMake<DLayer>(&root, "A"), "Fill");
  auto* hover = add_state(fill, "Hover", 1);
  auto* hover_pressed = add_state(fill, "Hover:Pressed", 2);
  auto* focus_hover = add_state(fill, "Focus:Hover", 3);

  EXPECT_EQ(fill->state({"Hover"}), hover);
  EXPECT_EQ(fill->state({"Pressed", "Hover"}), hover_pressed);
  EXPECT_EQ(fill->state({"Pressed", "Hover", "Focus", "Hover"}), focus_hover);
  EXPECT_EQ(fill->state({"hover"}), nullptr);  // case matters
  EXPECT_EQ(fill->state({"Pressed"}), nullptr);
  EXPECT_EQ(fill->state({}), nullptr);
  EXPECT_EQ(fill->as<double>({"Focus", "Hover", "Narrow"}), 3.0);
}

TEST(Attribute, state_names_split_at_colons_and_empty_names_never_match) {
  DAttribute fill("Fill");
  add_state(&fill, "", 1);
  EXPECT_EQ(fill.state({""}), nullptr);
  EXPECT_EQ(fill.state({"Hover"}), nullptr);

  // A trailing colon adds no piece; a leading one adds an empty one.
  auto* trailing = add_state(&fill, "Hover:", 2);
  auto* leading = add_state(&fill, ":Pressed", 3);
  EXPECT_EQ(fill.state({"Hover"}), trailing);
  EXPECT_EQ(fill.state({"Pressed"}), nullptr);
  EXPECT_EQ(fill.state({"Pressed", ""}), leading);
}

TEST(Attribute, state_look_ups_follow_the_contents_of_the_active_list) {
  DLayer root;
  auto* layer = dMake<DLayer>(&root, "A");
  auto* fill = dMake<DAttribute>(layer, "Fill");
  auto* hover = add_state(fill, "Hover", 1);
  auto* doubled = add_state(fill, "Focus:Focus", 2);

  // One list changed in place between look-ups, also to a same-sized text.
  Names active{"Hover"};
  EXPECT_EQ(fill->state(active), hover);
  active[0] = "Hovel";
  EXPECT_EQ(fill->state(active), nullptr);
  active[0] = "Focus";
  EXPECT_EQ(fill->state(active), doubled);  // a repeated piece counts twice
  active.push_back("Hover");
  EXPECT_EQ(fill->state(active), doubled);

  // A name that no state had when the list was first seen, then gets one.
  const Names later{"Later"};
  auto* other = dMake<DAttribute>(layer, "Other");
  add_state(other, "Hover", 3);
  EXPECT_EQ(other->state(later), nullptr);
  auto* late = add_state(other, "Later", 4);
  EXPECT_EQ(other->state(later), late);

  // Far more distinct condition names than fit in one word.
  auto* many = dMake<DAttribute>(layer, "Many");
  for (int i = 0; i < 150; ++i) add_state(many, "S" + std::to_string(i), i);
  auto* pair = add_state(many, "S140:S7", 1000);
  EXPECT_EQ(many->state({"S130"})->object_name(), "S130");
  EXPECT_EQ(many->state({"S7", "S140"}), pair);
  EXPECT_EQ(many->state({"S140", "S99"})->object_name(), "S140");  // tie: first name
  EXPECT_EQ(many->state({"S150"}), nullptr);
}

TEST(Attribute, states_lists_later_duplicates_and_ignores_non_attribute_children) {
  DAttribute fill("Fill");
  add_state(&fill, "Hover", 1);
  auto* later = add_state(&fill, "Hover", 2);
  dMake<DLayer>(&fill, "Layer");
  const auto states = fill.states(false);
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states.at("Hover"), later);
  EXPECT_EQ(fill.state({"Hover"}), later);
  EXPECT_TRUE(fill.has_states());
  EXPECT_FALSE(DAttribute("Bare").has_states());
}

TEST(Attribute, inherited_states_come_through_the_base_chain_with_nearer_names_winning) {
  DLayer root;
  auto* far = dMake<DLayer>(&root, "Far");
  auto* near = dMake<DLayer>(&root, "Near");
  auto* derived = dMake<DLayer>(&root, "Derived");
  near->set_base_path("Far");
  derived->set_base_path("Near");
  root.resolve_bases();
  ASSERT_EQ(derived->base(), near);
  ASSERT_EQ(near->base(), far);

  auto* far_fill = dMake<DAttribute>(far, "Fill");
  add_state(far_fill, "Hover", 1);
  auto* far_pressed = add_state(far_fill, "Pressed", 2);
  auto* near_fill = dMake<DAttribute>(near, "Fill");
  auto* near_hover = add_state(near_fill, "Hover", 3);
  auto* fill = dMake<DAttribute>(derived, "Fill");
  auto* own_focus = add_state(fill, "Focus", 4);

  EXPECT_EQ(names_of(fill->states(false)), (Names{"Focus"}));
  const auto all = fill->states(true);
  EXPECT_EQ(names_of(all), (Names{"Focus", "Hover", "Pressed"}));
  EXPECT_EQ(all.at("Hover"), near_hover);
  EXPECT_EQ(all.at("Pressed"), far_pressed);
  EXPECT_EQ(fill->state({"Pressed"}), far_pressed);
  EXPECT_EQ(fill->as<double>({"Hover"}), 3.0);

  // An own state of the same name hides the inherited one.
  auto* own_hover = add_state(fill, "Hover", 5);
  EXPECT_EQ(fill->state({"Hover"}), own_hover);
  EXPECT_EQ(fill->state({"Focus"}), own_focus);

  // The chain stops at a base without a same-named attribute.
  auto* other = dMake<DAttribute>(derived, "Other");
  dMake<DAttribute>(far, "Other");
  add_state(far->find_attribute("Other"), "Hover", 6);
  EXPECT_TRUE(other->states(true).empty());
  EXPECT_EQ(other->state({"Hover"}), nullptr);
  EXPECT_FALSE(other->has_states());

  // has_states answers from the states as they are now, also after a base
  // resolved since the last state look-up.
  auto* late = dMake<DLayer>(&root, "Late");
  auto* late_fill = dMake<DAttribute>(late, "Fill");
  EXPECT_EQ(late_fill->state({"Hover"}), nullptr);
  EXPECT_FALSE(late_fill->has_states());
  late->set_base_path("Derived");
  root.resolve_bases();
  ASSERT_EQ(late->base(), derived);
  EXPECT_TRUE(late_fill->has_states());
}

TEST(Attribute, state_cache_follows_every_change_of_the_tree) {
  DLayer root;
  auto* base = dMake<DLayer>(&root, "Base");
  auto* derived = dMake<DLayer>(&root, "Derived");
  derived->set_base_path("Base");
  root.resolve_bases();
  auto* fill = dMake<DAttribute>(derived, "Fill");
  EXPECT_EQ(fill->state({"Hover"}), nullptr);

  // A same-named attribute appearing in the base layer: the layer was stamped.
  auto* base_fill = dMake<DAttribute>(base, "Fill");
  EXPECT_EQ(fill->state({"Hover"}), nullptr);
  auto* inherited = add_state(base_fill, "Hover", 1);
  EXPECT_EQ(fill->state({"Hover"}), inherited);

  // An own state added after a look-up.
  auto* own = add_state(fill, "Hover", 2);
  EXPECT_EQ(fill->state({"Hover"}), own);

  // A renamed state is matched by its new name at the next look-up.
  own->set_object_name("Pressed");
  EXPECT_EQ(fill->state({"Hover"}), inherited);
  EXPECT_EQ(fill->state({"Pressed"}), own);
  fill->reorder_children({});
  EXPECT_EQ(fill->state({"Hover"}), inherited);
  EXPECT_EQ(fill->state({"Pressed"}), own);

  // Removing the own state is noticed too.
  fill->destroy_child(own);
  EXPECT_EQ(fill->state({"Pressed"}), nullptr);
  EXPECT_EQ(fill->state({"Hover"}), inherited);

  // A layer looked up while it stood alone, then placed in the tree and given
  // a base: both the move and the base are noticed.
  auto alone = std::make_unique<DLayer>("Alone");
  alone->set_base_path("Base");
  auto* alone_fill = dMake<DAttribute>(alone.get(), "Fill");
  EXPECT_EQ(alone_fill->state({"Hover"}), nullptr);
  root.add_child(std::move(alone));
  EXPECT_EQ(alone_fill->state({"Hover"}), nullptr);
  root.resolve_bases();
  EXPECT_EQ(alone_fill->state({"Hover"}), inherited);

  // Destroying and adding the base attribute's states.
  base_fill->destroy_child(inherited);
  EXPECT_EQ(alone_fill->state({"Hover"}), nullptr);
  auto* again = add_state(base_fill, "Hover", 3);
  EXPECT_EQ(alone_fill->state({"Hover"}), again);
}

TEST(Attribute, as_if_yields_only_the_exact_alternative) {
  DAttribute number("Number");
  number.set_value(DValue(12.0));
  ASSERT_NE(number.as_if<double>({}), nullptr);
  EXPECT_EQ(*number.as_if<double>({}), 12.0);
  EXPECT_EQ(number.as_if<std::string>({}), nullptr);
  EXPECT_EQ(number.as_if<bool>({}), nullptr);
  EXPECT_FALSE(number.as<bool>({}));
  EXPECT_EQ(number.as<std::string>({"Hover"}), "");

  DAttribute text("Text");
  text.set_value("12");
  EXPECT_EQ(text.as_if<double>({}), nullptr);
  EXPECT_EQ(text.as<double>({}), 0.0);
  EXPECT_EQ(text.as<std::string>({}), "12");

  DAttribute flag("Flag");
  flag.set_value(DValue(true));
  EXPECT_TRUE(flag.as<bool>({"Anything"}));
  EXPECT_EQ(flag.as_if<double>({}), nullptr);

  DAttribute empty("Empty");
  EXPECT_EQ(empty.value().index(), 0u);
  EXPECT_EQ(empty.as_if<double>({}), nullptr);
}

TEST(Attribute, as_if_takes_the_first_matching_state_along_the_link_chain) {
  DLayer root;
  auto* layer = dMake<DLayer>(&root, "L");
  auto* a = dMake<DAttribute>(layer, "A");
  auto* b = dMake<DAttribute>(layer, "B");
  b->set_value(DValue(1.0));
  add_state(b, "Hover", 5);
  ASSERT_TRUE(a->create_link(b));

  EXPECT_EQ(a->as<double>({"Hover"}), 5.0);
  EXPECT_EQ(a->as<double>({}), 1.0);
  EXPECT_EQ(a->as<double>({"Pressed"}), 1.0);

  // The linking attribute's own state comes first.
  add_state(a, "Hover", 7);
  EXPECT_EQ(a->as<double>({"Hover"}), 7.0);
  EXPECT_EQ(&a->value(), &b->value());

  // A selected state answers with its own chain's end, never its own states.
  auto* c = dMake<DAttribute>(layer, "C");
  c->set_value(DValue(9.0));
  auto* pressed = dMake<DAttribute>(a, "Pressed");
  add_state(pressed, "Pressed", 11);
  ASSERT_TRUE(pressed->create_link(c));
  EXPECT_EQ(a->as<double>({"Pressed"}), 9.0);

  // A value read through the link is seen without resolving again.
  b->set_value(DValue(2.0));
  EXPECT_EQ(a->as<double>({"Focus"}), 2.0);
}

TEST(Attribute, unresolved_and_cyclic_links_read_the_own_states_and_value) {
  DLayer root;
  auto* layer = dMake<DLayer>(&root, "L");
  auto* a = dMake<DAttribute>(layer, "A");
  ASSERT_TRUE(a->create_link(std::string("Nowhere")));
  a->resolve_links();
  EXPECT_EQ(a->as_if<double>({}), nullptr);
  EXPECT_EQ(a->as_if<double>({"Hover"}), nullptr);
  add_state(a, "Hover", 4);
  EXPECT_EQ(a->as<double>({"Hover"}), 4.0);

  // B links to C and C back to B: C, resolved last, is cyclic and reads itself.
  auto* b = dMake<DAttribute>(layer, "B");
  auto* c = dMake<DAttribute>(layer, "C");
  b->set_value(DValue(1.0));
  c->set_value(DValue(2.0));
  c->create_link(std::string("B"));
  b->create_link(std::string("C"));
  b->resolve_links();
  c->resolve_links();
  ASSERT_TRUE(c->link()->cyclic);
  EXPECT_EQ(b->link()->target, c);
  EXPECT_EQ(c->as_if<double>({}), nullptr);  // linking cleared its own value
  c->set_value(DValue(3.0));
  EXPECT_EQ(c->link(), nullptr);
  EXPECT_EQ(b->as<double>({"Hover"}), 3.0);
}

}  // namespace
}  // namespace Drelm
