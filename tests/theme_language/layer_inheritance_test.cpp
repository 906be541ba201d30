#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/drelm_tree.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Drelm {
namespace {

DLayer* layer(DObject* parent, const std::string& name, const std::string& base_path = "") {
  auto* created = dMake<DLayer>(parent, name);
  created->set_base_path(base_path);
  return created;
}

DAttribute* attribute(DObject* parent, const std::string& name, const DValue& value = {}) {
  auto* created = dMake<DAttribute>(parent, name);
  if (!std::holds_alternative<std::monostate>(value)) created->set_value(value);
  return created;
}

using support::child_names;

TEST(LayerInheritance, resolve_bases_refuses_the_layer_itself_and_its_ancestors) {
  DLayer root;
  auto* self = layer(&root, "Self", "Self");
  auto* n = layer(&root, "N");
  auto* on_parent = layer(n, "C", "N");
  auto* on_grandparent = layer(layer(on_parent, "Deep"), "Deeper", "N/C");
  auto* d = layer(&root, "D");
  auto* nd = layer(n, "D");
  auto* past_own_parent = layer(nd, "E", "D");  // N/D is its parent, the top-level D is fine

  root.resolve_bases();
  EXPECT_EQ(self->base(), nullptr);
  EXPECT_TRUE(self->has_unresolved_base());
  EXPECT_EQ(on_parent->base(), nullptr);
  EXPECT_EQ(on_grandparent->base(), nullptr);
  EXPECT_EQ(past_own_parent->base(), d);

  // However a layer got its base, finalize refuses one that contains it: a
  // copy keeps its original's base, here placed inside that base.
  auto* a = layer(&root, "A");
  attribute(a, "Width", 1.0);
  auto* x = layer(a, "X");
  auto* l = layer(&root, "L", "A");
  root.resolve_bases();
  ASSERT_EQ(l->base(), a);
  l->clone_to(x);
  auto* copy = x->find_layer("L");
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->base(), a);
  copy->finalize();
  EXPECT_EQ(copy->base(), nullptr);
  EXPECT_TRUE(copy->has_unresolved_base());
  EXPECT_TRUE(copy->children().empty());
  l->finalize();
  EXPECT_NE(l->find_layer("X/L"), nullptr);

  // A chain that led back is taken once it no longer does: what is known of
  // a chain follows every base that changes along it.
  auto* c0 = layer(&root, "C0");
  auto* c1 = layer(&root, "C1", "C0");
  auto* c2 = layer(&root, "C2", "C1");
  auto* c3 = layer(&root, "C3", "C2");
  layer(&root, "C4", "C0");
  root.resolve_bases();
  ASSERT_EQ(c3->base(), c2);
  c0->set_base_path("C3");
  root.resolve_bases();
  EXPECT_EQ(c0->base(), nullptr);
  root.destroy_child(c1);
  EXPECT_EQ(c2->base(), nullptr);
  root.resolve_bases();
  EXPECT_EQ(c0->base(), c3);
  EXPECT_EQ(c2->base(), nullptr);
}

TEST(LayerInheritance, resolve_bases_looks_in_the_namespace_first_then_from_the_root) {
  DLayer root;
  auto* top_inner = layer(&root, "Inner");
  auto* t = layer(&root, "T", "Inner");
  auto* t_inner = layer(t, "Inner");
  auto* ns = layer(&root, "Ns");
  auto* widget = layer(ns, "Widget", "Inner");
  auto* shared = layer(ns, "Shared");
  auto* user = layer(ns, "User", "Shared");
  auto* later = layer(ns, "Waiting", "Later");

  root.resolve_bases();
  EXPECT_EQ(t->base(), t_inner);  // a descendant is an accepted base
  EXPECT_EQ(widget->base(), top_inner);
  EXPECT_EQ(user->base(), shared);
  EXPECT_TRUE(later->has_unresolved_base());
  EXPECT_EQ(root.dependencies(), (std::set<DLayer*>{t_inner, top_inner, shared}));

  // An unresolved base is tried again; a resolved one never is.
  auto* target = layer(&root, "Later");
  user->set_base_path("Later");
  root.resolve_bases();
  EXPECT_EQ(later->base(), target);
  EXPECT_EQ(user->base(), shared);
}

TEST(LayerInheritance, of_two_layers_naming_each_other_only_the_first_gets_a_base) {
  DLayer root;
  auto* p = layer(&root, "P", "Q");
  auto* q = layer(&root, "Q", "P");
  root.resolve_bases();
  EXPECT_EQ(p->base(), q);
  EXPECT_EQ(q->base(), nullptr);
  EXPECT_TRUE(q->has_unresolved_base());
  p->finalize();
  q->finalize();
  EXPECT_EQ(p->base(), q);
}

TEST(LayerInheritance, a_base_still_finalizing_is_dropped) {
  DLayer root;
  auto* x = layer(&root, "X");
  attribute(x, "FromX", 1.0);
  auto* y = layer(x, "Y", "A");
  auto* a = layer(&root, "A", "X");
  attribute(a, "FromA", 2.0);

  root.resolve_bases();
  ASSERT_EQ(y->base(), a);
  ASSERT_EQ(a->base(), x);
  x->finalize();
  a->finalize();
  EXPECT_EQ(a->base(), nullptr);
  EXPECT_TRUE(a->has_unresolved_base());
  EXPECT_EQ(a->find_attribute("FromX"), nullptr);
  EXPECT_EQ(y->base(), a);
  ASSERT_NE(y->find_attribute("FromA"), nullptr);
  EXPECT_EQ(y->find_attribute("FromA")->value(), DValue(2.0));
}

TEST(LayerInheritance, merge_takes_values_and_links_only_where_the_derived_has_neither) {
  DLayer root;
  auto* base = layer(&root, "Base");
  attribute(base, "Own", 1.0);
  attribute(base, "Empty", 2.0);
  attribute(base, "Linked")->create_link("Theme/Accent");
  attribute(base, "OwnLink", 3.0);
  attribute(base, "OnlyInBase", std::string("base"));
  auto* derived = layer(&root, "Derived", "Base");
  auto* own = attribute(derived, "Own", 10.0);
  auto* empty = attribute(derived, "Empty");
  auto* linked = attribute(derived, "Linked");
  auto* own_link = attribute(derived, "OwnLink");
  own_link->create_link("Theme/Other");

  root.resolve_bases();
  derived->finalize();
  EXPECT_EQ(own->value(), DValue(10.0));
  EXPECT_EQ(empty->value(), DValue(2.0));
  ASSERT_NE(linked->link(), nullptr);
  EXPECT_EQ(linked->link()->path, "Theme/Accent");
  ASSERT_NE(own_link->link(), nullptr);
  EXPECT_EQ(own_link->link()->path, "Theme/Other");
  auto* copied = derived->find_attribute("OnlyInBase");
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied, base->find_attribute("OnlyInBase"));
  EXPECT_EQ(copied->value(), DValue(std::string("base")));
  EXPECT_EQ(child_names(*derived),
            (std::vector<std::string>{"Own", "Empty", "Linked", "OwnLink", "OnlyInBase"}));

  // A second finalize merges nothing again.
  derived->finalize();
  EXPECT_EQ(derived->children().size(), 0u);
  EXPECT_EQ(derived->attributes().size(), 5u);
}

TEST(LayerInheritance, merged_and_copied_children_take_the_places_of_layers) {
  DLayer root;
  auto* base = layer(&root, "Base");
  attribute(base, "b1");
  auto* k1 = layer(base, "K1");
  auto* k2 = layer(base, "K2");
  auto* derived = layer(&root, "Derived", "Base");
  attribute(derived, "a1");
  auto* l1 = layer(derived, "L1");
  attribute(derived, "a2");

  root.resolve_bases();
  derived->finalize();
  EXPECT_EQ(child_names(*derived), (std::vector<std::string>{"a1", "K1", "a2", "b1", "K2", "L1"}));
  const auto layers = derived->children();
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_NE(layers[0], k1);
  EXPECT_NE(layers[1], k2);
  EXPECT_EQ(layers[2], l1);
  EXPECT_EQ(derived->find_layer("L1"), l1);
  EXPECT_EQ(derived->find_attribute("b1")->parent(), derived);
}

TEST(LayerInheritance, nested_merges_set_the_base_and_copy_missing_states) {
  DLayer root;
  auto* base = layer(&root, "Base");
  auto* base_k = layer(base, "K");
  auto* width = attribute(base_k, "Width", 4.0);
  attribute(width, "Hover", 5.0);
  layer(base_k, "Inner");
  auto* other = layer(&root, "Other");
  auto* derived = layer(&root, "Derived", "Base");
  attribute(derived, "Top", 1.0);
  auto* derived_k = layer(derived, "K");
  auto* derived_width = attribute(derived_k, "Width");
  auto* own_l = layer(derived, "L", "Other");
  auto* base_l = layer(base, "L");
  attribute(base_l, "FromBaseL", 6.0);
  auto* top_hover = attribute(attribute(base, "Top"), "Hover", 7.0);

  root.resolve_bases();
  derived->finalize();
  EXPECT_EQ(derived_k->base(), base_k);
  EXPECT_EQ(own_l->base(), other);  // an own base is kept
  EXPECT_EQ(derived_width->value(), DValue(4.0));
  // Nested: the derived child had no base yet, so the state was copied.
  const auto width_states = derived_width->states(false);
  ASSERT_EQ(width_states.count("Hover"), 1u);
  EXPECT_EQ(width_states.at("Hover")->value(), DValue(5.0));
  EXPECT_NE(derived_k->find_layer("Inner"), nullptr);
  EXPECT_NE(own_l->find_attribute("FromBaseL"), nullptr);
  // Top level: the state is inherited through the base, not copied.
  auto* top = derived->find_attribute("Top");
  EXPECT_EQ(top->states(false).count("Hover"), 0u);
  EXPECT_EQ(top->states(true).at("Hover"), top_hover);
  EXPECT_EQ(child_names(*derived), (std::vector<std::string>{"Top", "K", "L"}));
}

TEST(LayerInheritance, a_nested_merge_never_closes_a_loop_of_bases) {
  // B/K inherits from D/K, and D inherits from B: the nested merge of B/K into
  // D/K must not make D/K inherit from B/K, which already inherits from D/K.
  DLayer root;
  auto* b = layer(&root, "B");
  auto* b_k = layer(b, "K", "D/K");
  auto* d = layer(&root, "D", "B");
  auto* d_k = layer(d, "K");
  attribute(d_k, "Width", 1.0);

  root.resolve_bases();
  ASSERT_EQ(b_k->base(), d_k);
  b->finalize();
  d->finalize();
  EXPECT_EQ(d->base(), b);
  EXPECT_EQ(d_k->base(), nullptr);
  EXPECT_EQ(b_k->find_attribute("Width")->value(), DValue(1.0));
  EXPECT_EQ(d_k->find_attribute("Width")->states(true).size(), 0u);
  EXPECT_EQ(root.dependencies(), (std::set<DLayer*>{d_k, b}));
}

TEST(LayerInheritance, clone_to_copies_attributes_first_then_layers) {
  DLayer root;
  auto* base = layer(&root, "Base");
  auto* original = layer(&root, "Original", "Base");
  attribute(original, "a1", 1.0);
  layer(layer(original, "L1"), "Deep");
  attribute(original, "a2", 2.0);
  root.resolve_bases();
  original->finalize();

  // Added after the original was finalized: a finalized copy must not merge it.
  attribute(base, "Late", 3.0);
  auto* target = layer(&root, "Target");
  original->clone_to(target);
  auto* copy = target->find_layer("Original");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(child_names(*copy), (std::vector<std::string>{"a1", "a2", "L1"}));
  EXPECT_EQ(copy->base(), base);
  EXPECT_EQ(copy->base_path(), "Base");
  EXPECT_NE(copy->find_layer("L1/Deep"), nullptr);
  EXPECT_EQ(copy->find_attribute("a2")->value(), DValue(2.0));
  copy->finalize();
  EXPECT_EQ(copy->find_attribute("Late"), nullptr);

  // A copy placed among the copied children is not copied into itself.
  original->clone_to(original);
  EXPECT_EQ(child_names(*original), (std::vector<std::string>{"a1", "L1", "a2", "Original"}));
  EXPECT_EQ(child_names(*original->find_layer("Original")),
            (std::vector<std::string>{"a1", "a2", "L1"}));

  // Into its own child: one copy of the layer as it was.
  auto* c = layer(&root, "C");
  attribute(c, "a", 1.0);
  auto* d = layer(c, "D");
  attribute(d, "d", 2.0);
  layer(d, "E");
  c->clone_to(d);
  EXPECT_EQ(child_names(*d), (std::vector<std::string>{"d", "E", "C"}));
  auto* c_copy = d->find_layer("C");
  EXPECT_EQ(child_names(*c_copy), (std::vector<std::string>{"a", "D"}));
  EXPECT_EQ(child_names(*c_copy->find_layer("D")), (std::vector<std::string>{"d", "E"}));
  EXPECT_TRUE(c_copy->find_layer("D/E")->DObject::children().empty());

  // A layer without children copied into itself.
  auto* empty = layer(&root, "Empty");
  empty->clone_to(empty);
  EXPECT_EQ(child_names(*empty), (std::vector<std::string>{"Empty"}));
  EXPECT_TRUE(empty->find_layer("Empty")->DObject::children().empty());
}

TEST(LayerInheritance, callbacks_run_by_a_merge_may_rename_and_destroy_derived_children) {
  // Longer than a short string, so that the rename frees the old name.
  const std::string name = "An attribute with a rather long name";
  {
    DLayer root;
    auto* base = layer(&root, "Base");
    attribute(base, "First", 1.0);
    attribute(base, name, 2.0);
    auto* derived = layer(&root, "Derived", "Base");
    auto* first = attribute(derived, "First");
    auto* renamed = attribute(derived, name);
    first->on_change([&] { renamed->set_object_name(name + ", renamed"); });
    root.resolve_bases();
    derived->finalize();
    EXPECT_EQ(first->value(), DValue(1.0));
    EXPECT_EQ(renamed->value(), DValue(2.0));
    EXPECT_EQ(child_names(*derived), (std::vector<std::string>{"First", name + ", renamed"}));
  }
  {
    // A nested merge's callback destroys a derived attribute and a derived
    // child layer, both still waiting for their inherited values.
    DLayer root;
    auto* base = layer(&root, "Base");
    attribute(base, "Top", 1.0);
    attribute(layer(base, "K"), "Deep", 2.0);
    attribute(layer(base, "L"), "Later", 3.0);
    auto* derived = layer(&root, "Derived", "Base");
    auto* top = attribute(derived, "Top");
    auto* deep = attribute(layer(derived, "K"), "Deep");
    auto* l = layer(derived, "L");
    attribute(l, "Later");
    deep->on_change([&] {
      derived->destroy_child(top);
      derived->destroy_child(l);
    });
    root.resolve_bases();
    derived->finalize();
    EXPECT_EQ(deep->value(), DValue(2.0));
    EXPECT_EQ(child_names(*derived), (std::vector<std::string>{"K"}));
  }
}

}  // namespace
}  // namespace Drelm
