#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/collisions.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"
#include "theme_language/lookup.h"

namespace Drelm {
namespace {

// The answer find_attribute must give: the last attribute child of that name.
DAttribute* last_named(const DLayer& layer, const std::string& name) {
  DAttribute* found = nullptr;
  for (DAttribute* attribute : layer.attributes()) {
    if (attribute->object_name() == name) found = attribute;
  }
  return found;
}

// The answer a child-layer look-up must give: the first layer child of that name.
DLayer* first_named(const DLayer& layer, const std::string& name) {
  for (DLayer* child : layer.children()) {
    if (child->object_name() == name) return child;
  }
  return nullptr;
}

TEST(LookupStructures, find_attribute_agrees_with_a_scan_through_any_mix_of_list_changes) {
  DLayer layer;
  const std::vector<std::string> names = {
      "Width", "Fill",   "Value10", "Value2", "Fill.Start",         "A",
      "",      "Value1", "Zed",     "Fill",   std::string(300, 'L')};
  // The same names as a constant table, whose answers a layer keeps.
  std::vector<DNameKey> keys;
  for (const auto& name : names) keys.push_back(DNameKey{name, hash_name(name)});
  auto check_all = [&](int step) {
    SCOPED_TRACE(step);
    std::vector<DAttribute*> found(keys.size());
    for (int twice = 0; twice < 2; ++twice) {
      find_attributes(layer, DNameTable{keys.data(), keys.size()}, found.data());
      for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(found[i], last_named(layer, names[i]));
      }
    }
    for (const auto& name : names) {
      EXPECT_EQ(layer.find_attribute(name), last_named(layer, name));
      if (!name.empty()) {
        EXPECT_EQ(layer.find_layer(name), first_named(layer, name));
      }
    }
    EXPECT_EQ(layer.find_attribute("Missing"), nullptr);
  };
  // A fixed pseudo-random walk: appends one or several at a time between
  // look-ups, repeats of names, removals, reorders and removals mixed with appends.
  unsigned seed = 7;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int step = 0; step < 300; ++step) {
    const unsigned action = next() % 10;
    const auto children = layer.attributes();
    if (action < 5 || children.empty()) {
      const unsigned count = 1 + next() % 3;
      for (unsigned i = 0; i < count; ++i) dMake<DAttribute>(&layer, names[next() % names.size()]);
      if (next() % 4 == 0) dMake<DLayer>(&layer, "Width");  // a layer is no attribute
      if (next() % 4 == 0) dMake<DLayer>(&layer, names[next() % names.size()]);
      // Child layers are found by their new names at once, with no change of
      // the child list between the look-ups.
      const auto layers = layer.children();
      if (!layers.empty() && next() % 3 == 0) {
        check_all(-2);
        layers[next() % layers.size()]->set_object_name(names[next() % names.size()]);
        check_all(-3);
      }
    } else if (action < 7) {
      layer.destroy_child(children[next() % children.size()]);
      if (next() % 2 == 0) dMake<DAttribute>(&layer, names[next() % names.size()]);
    } else if (action < 8) {
      layer.reorder_children({children.back(), children.front()});
    } else {
      // Several appends after a removal keep the count growing more slowly
      // than the version.
      layer.destroy_child(children.front());
      dMake<DAttribute>(&layer, names[next() % names.size()]);
      dMake<DAttribute>(&layer, names[next() % names.size()]);
    }
    if (step % 3 != 0) check_all(step);
  }
  check_all(-1);
}

TEST(LookupStructures, names_chosen_to_share_one_hash_are_told_apart) {
  // More than a probe visits; the last name is never added.
  const std::vector<std::string> names = bench::names_colliding_in_name_hash(151);
  for (const auto& name : names) ASSERT_EQ(hash_name(name), hash_name(names[0]));
  std::vector<DNameKey> keys;
  for (const auto& name : names) keys.push_back(DNameKey{name, hash_name(name)});
  DLayer layer;
  auto check_all = [&](int step) {
    SCOPED_TRACE(step);
    std::vector<DAttribute*> found(keys.size());
    find_attributes(layer, DNameTable{keys.data(), keys.size()}, found.data());
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(found[i], last_named(layer, names[i]));
      EXPECT_EQ(layer.find_attribute(names[i]), found[i]);
      EXPECT_EQ(layer.find_layer(names[i]), first_named(layer, names[i]));
    }
  };
  // Appended one by one between look-ups, so that the index grows by appends;
  // then again for a third (a later attribute wins, an earlier layer).
  for (std::size_t i = 0; i < 150; ++i) {
    dMake<DAttribute>(&layer, names[i]);
    EXPECT_EQ(layer.find_attribute(names[i]), last_named(layer, names[i]));
  }
  check_all(0);
  for (std::size_t i = 0; i < 150; i += 3) {
    dMake<DAttribute>(&layer, names[i]);
    dMake<DLayer>(&layer, names[i]);
    dMake<DLayer>(&layer, names[i]);
  }
  check_all(1);
  // A removal builds the index anew.
  layer.destroy_child(layer.attributes()[7]);
  layer.destroy_child(layer.children()[2]);
  check_all(2);
}

TEST(LookupStructures, a_rename_is_seen_by_find_attribute_once_the_child_list_changes) {
  DLayer layer;
  auto* renamed = dMake<DAttribute>(&layer, "Old");
  auto* shadowed = dMake<DAttribute>(&layer, "Twin");
  auto* twin = dMake<DAttribute>(&layer, "Twin");
  EXPECT_EQ(layer.find_attribute("Old"), renamed);
  EXPECT_EQ(layer.find_attribute("Twin"), twin);

  // A rename alone changes no child list: the old entry stays, also in the
  // answers a layer keeps for a table.
  static constexpr DNameKey kKeys[] = {name_key("Old"), name_key("New"), name_key("Twin")};
  DAttribute* found[3];
  find_attributes(layer, DNameTable{kKeys, 3}, found);
  renamed->set_object_name("New");
  shadowed->set_object_name("Other");
  EXPECT_EQ(layer.find_attribute("Old"), renamed);
  EXPECT_EQ(layer.find_attribute("New"), nullptr);
  find_attributes(layer, DNameTable{kKeys, 3}, found);
  EXPECT_EQ(found[0], renamed);
  EXPECT_EQ(found[1], nullptr);
  EXPECT_EQ(found[2], twin);

  // The next change, even a plain append, indexes every child by its name now.
  auto* later = dMake<DAttribute>(&layer, "Later");
  find_attributes(layer, DNameTable{kKeys, 3}, found);
  EXPECT_EQ(found[0], nullptr);
  EXPECT_EQ(found[1], renamed);
  EXPECT_EQ(layer.find_attribute("New"), renamed);
  EXPECT_EQ(layer.find_attribute("Old"), nullptr);
  EXPECT_EQ(layer.find_attribute("Other"), shadowed);
  EXPECT_EQ(layer.find_attribute("Twin"), twin);
  EXPECT_EQ(layer.find_attribute("Later"), later);

  // Appends after that are indexed as before.
  auto* last = dMake<DAttribute>(&layer, "New");
  EXPECT_EQ(layer.find_attribute("New"), last);
}

TEST(LookupStructures, dependents_keep_their_order_through_many_departures) {
  DLayer root;
  auto* theme = dMake<DLayer>(&root, "Theme");
  auto* primary = dMake<DAttribute>(theme, "Primary");
  primary->set_value(DValue(std::string("#ff000000")));
  auto* app = dMake<DLayer>(&root, "App");
  std::vector<DAttribute*> linked;
  for (int i = 0; i < 40; ++i) {
    auto* attribute = dMake<DAttribute>(app, "Fill " + std::to_string(i));
    ASSERT_TRUE(attribute->create_link(primary));
    linked.push_back(attribute);
  }
  EXPECT_EQ(primary->dependents(false), linked);

  // Every third one leaves in its own way: destroyed, given a value, or
  // linked elsewhere; the rest stay in registration order.
  auto* other = dMake<DAttribute>(theme, "Other");
  std::vector<DAttribute*> kept;
  for (int i = 0; i < 40; ++i) {
    if (i % 3 != 0) {
      kept.push_back(linked[i]);
      continue;
    }
    if (i % 9 == 0) {
      app->destroy_child(linked[i]);
    } else if (i % 9 == 3) {
      linked[i]->set_value(DValue(1.0));
    } else {
      ASSERT_TRUE(linked[i]->create_link(other));
    }
  }
  EXPECT_EQ(primary->dependents(false), kept);

  // Notification reaches the survivors in that order, and a newcomer last.
  auto* late = dMake<DAttribute>(app, "Late");
  ASSERT_TRUE(late->create_link(std::string("Theme/Primary")));
  late->resolve_links();
  kept.push_back(late);
  std::vector<DAttribute*> notified;
  for (DAttribute* attribute : kept) {
    attribute->on_change([&notified, attribute] { notified.push_back(attribute); });
  }
  primary->set_value(DValue(std::string("#ff111111")));
  EXPECT_EQ(notified, kept);

  // Removing all but the last and relinking one brings it in after the last.
  for (std::size_t i = 0; i + 1 < kept.size(); ++i) kept[i]->break_link(false);
  ASSERT_TRUE(kept.front()->create_link(primary));
  EXPECT_EQ(primary->dependents(false), (std::vector<DAttribute*>{late, kept.front()}));

  // The target's end leaves each remaining dependent with the value it read.
  theme->destroy_child(primary);
  EXPECT_EQ(late->link(), nullptr);
  EXPECT_EQ(late->value(), DValue(std::string("#ff111111")));
  EXPECT_EQ(kept.front()->link(), nullptr);
  EXPECT_EQ(kept.front()->value(), DValue(std::string("#ff111111")));
}

TEST(LookupStructures, dependents_follow_registration_order_through_any_mix_of_links) {
  DLayer root;
  auto* theme = dMake<DLayer>(&root, "Theme");
  auto* target = dMake<DAttribute>(theme, "Target");
  auto* elsewhere = dMake<DAttribute>(theme, "Elsewhere");
  target->set_value(DValue(1.0));
  auto* app = dMake<DLayer>(&root, "App");
  std::vector<DAttribute*> pool;
  for (int i = 0; i < 24; ++i) pool.push_back(dMake<DAttribute>(app, "A" + std::to_string(i)));
  // The order the target must report: joiners at the end, leavers out.
  std::vector<DAttribute*> model;
  auto leave = [&model](DAttribute* attribute) { std::erase(model, attribute); };

  unsigned seed = 11;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int step = 0; step < 2000; ++step) {
    SCOPED_TRACE(step);
    const std::size_t pick = next() % pool.size();
    DAttribute* attribute = pool[pick];
    switch (next() % 6) {
      case 0:  // (re)linked by pointer: leaves, then joins at the end
        ASSERT_TRUE(attribute->create_link(target));
        leave(attribute);
        model.push_back(attribute);
        break;
      case 1:  // by path: leaves, and joins at the end once resolved
        ASSERT_TRUE(attribute->create_link(std::string("Theme/Target")));
        attribute->resolve_links();
        leave(attribute);
        model.push_back(attribute);
        break;
      case 2:
        ASSERT_TRUE(attribute->create_link(elsewhere));
        leave(attribute);
        break;
      case 3:
        attribute->set_value(DValue(2.0));
        leave(attribute);
        break;
      case 4:
        attribute->break_link(next() % 2 == 0);
        leave(attribute);
        break;
      default:  // destroyed and replaced by a newcomer of the same name
        app->destroy_child(attribute);
        leave(attribute);
        pool[pick] = dMake<DAttribute>(app, "A" + std::to_string(pick));
        break;
    }
    ASSERT_EQ(target->dependents(false), model);
    ASSERT_EQ(target->dependents(true), model);
  }

  std::vector<DAttribute*> notified;
  for (DAttribute* attribute : pool) {
    attribute->on_change([&notified, attribute] { notified.push_back(attribute); });
  }
  target->set_value(DValue(3.0));
  EXPECT_EQ(notified, model);
  for (DAttribute* attribute : model) EXPECT_EQ(attribute->as<double>({}), 3.0);
}

TEST(LookupStructures, link_paths_with_empty_pieces_walk_like_split_pieces) {
  DLayer root;
  auto* ns = dMake<DLayer>(&root, "Ns");
  auto* unnamed = dMake<DLayer>(ns, "");
  auto* deep = dMake<DLayer>(unnamed, "Deep");
  auto* target = dMake<DAttribute>(deep, "Value");
  auto* bare = dMake<DAttribute>(ns, "Bare");
  auto* from = dMake<DAttribute>(dMake<DLayer>(ns, "Here"), "From");

  EXPECT_EQ(find_link_target(from, "Ns//Deep/Value"), target);  // from the root
  EXPECT_EQ(find_link_target(from, "/Deep/Value"), target);     // from the namespace
  EXPECT_EQ(find_link_target(from, "/Deep/Value/"), target);    // a trailing "/" adds nothing
  EXPECT_EQ(find_link_target(from, "Bare/"), bare);             // a bare name after all
  EXPECT_EQ(find_link_target(from, "Bare//"), nullptr);         // "Bare", then an empty name
  EXPECT_EQ(find_link_target(from, "Ns/Deep/Value"), nullptr);
  EXPECT_EQ(find_link_target(from, "/"), nullptr);
}

}  // namespace
}  // namespace Drelm
