#include "theme_language/object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/drelm_tree.h"
#include "theme_language/attribute.h"
#include "theme_language/connections.h"
#include "theme_language/layer.h"

namespace Drelm {
namespace {

using support::child_names;

DObject* named_child(DObject& parent, const std::string& name) {
  auto* child = dMake<DObject>(&parent);
  child->set_object_name(name);
  return child;
}

TEST(DObject, new_objects_are_empty_and_adding_keeps_order_and_parent) {
  DObject parent;
  EXPECT_TRUE(parent.object_name().empty());
  EXPECT_EQ(parent.parent(), nullptr);
  EXPECT_TRUE(parent.children().empty());
  EXPECT_EQ(parent.children_version(), 0u);

  auto first = std::make_unique<DObject>();
  DObject* raw = first.get();
  EXPECT_EQ(parent.add_child(std::move(first)), raw);
  DObject* second = named_child(parent, "2");
  ASSERT_EQ(parent.children().size(), 2u);
  EXPECT_EQ(parent.children()[0].get(), raw);
  EXPECT_EQ(parent.children()[1].get(), second);
  EXPECT_EQ(raw->parent(), &parent);
  EXPECT_EQ(second->parent(), &parent);
  EXPECT_EQ(parent.children_version(), 2u);

  // A null child is refused instead of being dereferenced.
  EXPECT_EQ(parent.add_child(nullptr), nullptr);
  EXPECT_EQ(parent.children().size(), 2u);
}

TEST(DObject, destroy_child_removes_only_its_own_children) {
  DObject parent;
  DObject stranger;
  named_child(parent, "1");
  DObject* middle = named_child(parent, "2");
  named_child(parent, "3");
  DObject* grandchild = named_child(*middle, "2a");

  parent.destroy_child(&stranger);
  parent.destroy_child(grandchild);  // a grandchild is no child
  EXPECT_EQ(child_names(parent), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(parent.children_version(), 3u);

  bool destroyed = false;
  middle->on_destroyed([&destroyed] { destroyed = true; });
  parent.destroy_child(middle);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(child_names(parent), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(parent.children_version(), 4u);
}

TEST(DObject, reorder_fills_the_places_the_named_children_held) {
  struct ReorderCase {
    std::vector<std::string> children;
    std::vector<std::string> order;
    std::vector<std::string> expected;
  };
  const ReorderCase cases[] = {
      {{"1", "2", "3", "4"}, {"4", "2"}, {"1", "4", "3", "2"}},
      {{"1", "2", "3"}, {"3", "1"}, {"3", "2", "1"}},
      {{"1", "2", "3"}, {}, {"1", "2", "3"}},
      {{}, {}, {}},
      {{"1", "2", "3"}, {"3", "2", "1"}, {"3", "2", "1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.children) + " by " + ::testing::PrintToString(c.order));
    DObject parent;
    for (const auto& name : c.children) named_child(parent, name);
    std::vector<DObject*> order;
    for (const auto& name : c.order) {
      for (const auto& child : parent.children()) {
        if (child->object_name() == name) order.push_back(child.get());
      }
    }
    const auto before = parent.children_version();
    parent.reorder_children(order);
    EXPECT_EQ(child_names(parent), c.expected);
    EXPECT_EQ(parent.children_version(), before + 1);
  }
}

TEST(DObject, reorder_with_strangers_or_repeats_loses_no_child) {
  DObject parent;
  DObject stranger;
  DObject* one = named_child(parent, "1");
  DObject* two = named_child(parent, "2");
  named_child(parent, "3");

  parent.reorder_children({&stranger, two, one});
  EXPECT_EQ(child_names(parent), (std::vector<std::string>{"2", "1", "3"}));

  parent.reorder_children({one, one, two});
  EXPECT_EQ(child_names(parent), (std::vector<std::string>{"1", "2", "3"}));
  for (const auto& child : parent.children()) EXPECT_EQ(child->parent(), &parent);
}

TEST(DObject, destroy_callbacks_run_in_id_order_and_honour_disconnects) {
  std::vector<int> calls;
  {
    DObject object;
    EXPECT_EQ(object.on_destroyed([&calls] { calls.push_back(0); }), DConnectionID(0));
    EXPECT_EQ(object.on_destroyed([&calls] { calls.push_back(1); }), DConnectionID(1));
    EXPECT_EQ(object.on_destroyed([&calls] { calls.push_back(2); }), DConnectionID(2));
    object.disconnect_destroyed(1);
    object.disconnect_destroyed(7);  // not registered: nothing changes
  }
  EXPECT_EQ(calls, (std::vector<int>{0, 2}));

  calls.clear();
  {
    auto object = std::make_unique<DObject>();
    DObject* raw = object.get();
    raw->on_destroyed([&calls, raw] {
      calls.push_back(0);
      raw->disconnect_destroyed(1);
      // Registered while the callbacks run: not called in this walk.
      raw->on_destroyed([&calls] { calls.push_back(9); });
    });
    raw->on_destroyed([&calls] { calls.push_back(1); });
    raw->on_destroyed([&calls] { calls.push_back(2); });
    raw->on_destroyed(nullptr);  // an empty callable must not throw from the destructor
  }
  EXPECT_EQ(calls, (std::vector<int>{0, 2}));
}

TEST(DObject, destruction_runs_own_callbacks_before_each_subtree_in_order) {
  std::vector<std::string> calls;
  auto parent = std::make_unique<DObject>();
  auto record = [&calls](DObject* object, const std::string& name) {
    object->on_destroyed([&calls, name] { calls.push_back(name); });
  };
  record(parent.get(), "parent");
  DObject* first = named_child(*parent, "first");
  record(first, "first");
  record(named_child(*first, "first.child"), "first.child");
  DObject* second = named_child(*parent, "second");
  record(second, "second");
  // The callback of the second child sees no deleted sibling in its parent's list.
  DObject* owner = parent.get();
  second->on_destroyed([&calls, owner] {
    for (const auto& sibling : owner->children()) {
      if (sibling == nullptr) calls.push_back("null sibling");
    }
  });
  parent.reset();
  EXPECT_EQ(calls, (std::vector<std::string>{"parent", "first", "first.child", "second"}));

  // A tree deeper than a destruction by recursion could reach goes without
  // running out of stack, whether its root is deleted or it is destroyed as a
  // child; its callbacks still run, the top first.
  for (const bool as_child : {false, true}) {
    auto holder = std::make_unique<DLayer>();
    DLayer* top = dMake<DLayer>(holder.get(), "L");
    DLayer* deepest = top;
    for (int level = 0; level < 100000; ++level) deepest = dMake<DLayer>(deepest);
    calls.clear();
    record(top, "top");
    record(deepest, "deepest");
    if (as_child) {
      holder->destroy_child(top);
    } else {
      holder.reset();
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"top", "deepest"}));
  }
}

TEST(DObject, find_children_helper_collects_by_class_in_pre_order) {
  DLayer root;
  auto* a = dMake<DLayer>(&root, "A");
  auto* color = dMake<DAttribute>(&root, "Color");
  auto* a1 = dMake<DLayer>(a, "A1");
  auto* a1x = dMake<DLayer>(a1, "A1x");
  auto* width = dMake<DAttribute>(a1, "Width");
  dMake<DObject>(&root);
  auto* b = dMake<DLayer>(&root, "B");

  std::vector<DLayer*> direct;
  root.find_children_helper<DLayer>(&root, direct, false);
  EXPECT_EQ(direct, (std::vector<DLayer*>{a, b}));

  // Appends without clearing.
  std::vector<DLayer*> all{b};
  root.find_children_helper<DLayer>(&root, all, true);
  EXPECT_EQ(all, (std::vector<DLayer*>{b, a, a1, a1x, b}));

  std::vector<DAttribute*> attributes;
  root.find_children_helper<DAttribute>(&root, attributes, true);
  EXPECT_EQ(attributes, (std::vector<DAttribute*>{width, color}));  // A's subtree comes first
}

// Copies share their source's name: renaming one leaves the others, and a
// name a caller holds stays readable until its own object is destroyed.
TEST(DObject, copies_rename_apart_and_held_names_outlive_the_copies) {
  DLayer root;
  auto* source = dMake<DAttribute>(&root, "a_name_too_long_for_the_short_form");
  source->clone_to(&root);
  source->clone_to(&root);
  auto* first = root.DObject::children()[1].get();
  auto* second = root.DObject::children()[2].get();
  const std::string& held = first->object_name();
  first->set_object_name("renamed");
  second->set_object_name("");
  root.destroy_child(source);
  root.destroy_child(second);
  EXPECT_EQ(held, "a_name_too_long_for_the_short_form");
  EXPECT_EQ(child_names(root), (std::vector<std::string>{"renamed"}));
  const std::string& unique = first->object_name();
  first->set_object_name("renamed_again_in_place_when_nobody_shares");
  EXPECT_EQ(unique, "renamed_again_in_place_when_nobody_shares");
}

TEST(DConnectionID, compares_and_post_increments) {
  DConnectionID id;
  EXPECT_EQ(id, DConnectionID(0));
  EXPECT_EQ(id++, DConnectionID(0));
  EXPECT_EQ(id, DConnectionID(1));
  EXPECT_TRUE(DConnectionID(-1) < DConnectionID(0));
  EXPECT_FALSE(DConnectionID(1) < DConnectionID(1));
}

}  // namespace
}  // namespace Drelm
