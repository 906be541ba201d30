#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Drelm {
namespace {

using Events = std::vector<std::string>;

// Records "<label>.change" and "<label>.link" for an attribute's callbacks.
void watch(DAttribute* attribute, const std::string& label, Events& events) {
  attribute->on_change([&events, label] { events.push_back(label + ".change"); });
  attribute->on_link_change([&events, label] { events.push_back(label + ".link"); });
}

// A layer "L" under a root for the attributes a test links, and the record of
// their callbacks, declared first so that it outlives the tree, whose teardown
// may call back.
class AttributeLinks : public ::testing::Test {
 protected:
  // New attributes of the layer, one for each name, in order.
  template <std::size_t N>
  std::array<DAttribute*, N> attributes(const char* const (&names)[N]) {
    std::array<DAttribute*, N> made{};
    for (std::size_t i = 0; i < N; ++i) made[i] = dMake<DAttribute>(layer, names[i]);
    return made;
  }

  // Watches each attribute under its label.
  void watch_all(std::initializer_list<std::pair<DAttribute*, const char*>> labelled) {
    for (const auto& [attribute, label] : labelled) watch(attribute, label, events);
  }

  Events events;
  DLayer tree;
  DLayer* const layer = dMake<DLayer>(&tree, "L");
};

TEST_F(AttributeLinks, find_link_target_searches_bare_names_upward_and_paths_from_the_namespace) {
  DLayer root;
  auto* a = dMake<DLayer>(&root, "A");
  auto* b = dMake<DLayer>(a, "B");
  auto* fill = dMake<DAttribute>(b, "Fill");
  auto* hover = dMake<DAttribute>(fill, "Hover");

  auto* a_n = dMake<DAttribute>(a, "N");
  EXPECT_EQ(find_link_target(fill, "N"), a_n);
  auto* b_n = dMake<DAttribute>(b, "N");
  EXPECT_EQ(find_link_target(fill, "N"), b_n);
  EXPECT_EQ(find_link_target(hover, "N"), b_n);  // a state searches from its attribute's layer
  EXPECT_EQ(find_link_target(fill, "Missing"), nullptr);
  EXPECT_EQ(find_link_target(fill, ""), nullptr);
  EXPECT_EQ(find_link_target(fill, "Fill"), fill);
  dMake<DLayer>(b, "Fill");
  EXPECT_EQ(find_link_target(fill, "B/Fill"), fill);  // a layer of that name is never taken

  // Paths: the namespace root first, then the root.
  auto* top_t = dMake<DLayer>(&root, "T");
  auto* top_n = dMake<DAttribute>(top_t, "N");
  EXPECT_EQ(find_link_target(fill, "T/N"), top_n);
  auto* nested_t = dMake<DLayer>(a, "T");
  EXPECT_EQ(find_link_target(fill, "T/N"), nullptr);  // A/T found, lacks N: no second try
  auto* nested_n = dMake<DAttribute>(nested_t, "N");
  EXPECT_EQ(find_link_target(fill, "T/N"), nested_n);
  EXPECT_EQ(find_link_target(fill, "A/B/N"), b_n);
  EXPECT_EQ(find_link_target(fill, "N/"), b_n);        // a trailing slash adds no piece
  EXPECT_EQ(find_link_target(fill, "A/B/"), nullptr);  // B is a layer, not an attribute of A
  EXPECT_EQ(find_link_target(fill, "X/N"), nullptr);

  DAttribute loose("Loose");
  EXPECT_EQ(find_link_target(&loose, "N"), nullptr);
  EXPECT_EQ(find_link_target(&loose, "T/N"), nullptr);
}

TEST_F(AttributeLinks, resolve_links_reports_unresolved_and_marks_the_last_of_a_loop_cyclic) {
  support::LogCapture capture;
  DLayer root;
  auto* ns = dMake<DLayer>(&root, "Ombrix");
  auto* button = dMake<DLayer>(ns, "Button");
  auto* a = dMake<DAttribute>(button, "A");
  auto* b = dMake<DAttribute>(button, "B");
  auto* lost = dMake<DAttribute>(button, "Lost");
  auto* hover = dMake<DAttribute>(lost, "Hover");
  ASSERT_TRUE(a->create_link(std::string("B")));
  ASSERT_TRUE(b->create_link(std::string("Button/A")));
  ASSERT_TRUE(lost->create_link(std::string("Theme/Nothing")));
  ASSERT_TRUE(hover->create_link(std::string("Gone")));
  watch_all({{lost, "lost"}, {hover, "hover"}});

  root.resolve_links();
  EXPECT_EQ(a->link()->target, b);
  EXPECT_FALSE(a->link()->cyclic);
  EXPECT_EQ(b->link()->target, nullptr);
  EXPECT_TRUE(b->link()->cyclic);
  EXPECT_EQ(b->dependents(false), std::vector<DAttribute*>{a});
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "engine: cyclic link `Button/A` on attribute `Ombrix/Button/B`.",
                "engine: unresolved link `Theme/Nothing` on attribute `Ombrix/Button/Lost`.",
                "engine: unresolved link `Gone` on attribute `Ombrix/Button/Lost.Hover`.",
            }));
  // States resolve before the attribute's own change callbacks; no link-change ones.
  EXPECT_EQ(events, (Events{"hover.change", "lost.change"}));

  // Reported again at every resolution; a link found later is taken.
  capture.lines().clear();
  lost->resolve_links();
  EXPECT_EQ(capture.lines().size(), 2u);
  auto* theme = dMake<DLayer>(&root, "Theme");
  auto* nothing = dMake<DAttribute>(theme, "Nothing");
  capture.lines().clear();
  lost->resolve_links();
  EXPECT_EQ(lost->link()->target, nothing);
  EXPECT_EQ(nothing->dependents(false), std::vector<DAttribute*>{lost});
  EXPECT_EQ(capture.lines().size(), 1u);

  // A path that finds nothing later keeps the earlier target.
  theme->destroy_child(nothing);
  EXPECT_EQ(lost->link(), nullptr);
  ASSERT_TRUE(lost->create_link(std::string("Theme/Other")));
  auto* other = dMake<DAttribute>(theme, "Other");
  lost->resolve_links();
  theme->set_object_name("Renamed");
  capture.lines().clear();
  lost->resolve_links();
  EXPECT_EQ(lost->link()->target, other);
  EXPECT_FALSE(lost->link()->cyclic);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "engine: unresolved link `Theme/Other` on attribute `Ombrix/Button/Lost`.",
                "engine: unresolved link `Gone` on attribute `Ombrix/Button/Lost.Hover`.",
            }));

  // Resolving the cyclic one again after its partner moved away clears the mark.
  a->create_link(std::string("Lost"));
  a->resolve_links();
  capture.lines().clear();
  b->resolve_links();
  EXPECT_EQ(b->link()->target, a);
  EXPECT_FALSE(b->link()->cyclic);
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(AttributeLinks, an_empty_link_path_is_never_reported) {
  support::LogCapture capture;
  DAttribute unnamed("");
  unnamed.set_value(DValue(4.0));
  DLayer root;
  auto* linked = dMake<DAttribute>(dMake<DLayer>(&root, "L"), "Linked");
  ASSERT_TRUE(linked->create_link(&unnamed));
  EXPECT_EQ(linked->link()->path, "");
  linked->resolve_links();
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(linked->link()->target, &unnamed);
  EXPECT_EQ(linked->as<double>({}), 4.0);
}

TEST_F(AttributeLinks, set_value_notifies_the_attribute_then_dependents_depth_first) {
  const auto [e, b, a, c] = attributes({"E", "B", "A", "C"});
  ASSERT_TRUE(b->create_link(e));
  ASSERT_TRUE(a->create_link(b));
  ASSERT_TRUE(c->create_link(e));
  EXPECT_EQ(e->dependents(false), (std::vector<DAttribute*>{b, c}));
  EXPECT_EQ(e->dependents(true), (std::vector<DAttribute*>{b, c, a}));

  watch_all({{e, "e"}, {b, "b"}, {a, "a"}, {c, "c"}});
  e->set_value(DValue(1.5));
  EXPECT_EQ(events, (Events{"e.change", "b.change", "a.change", "c.change"}));
  EXPECT_EQ(a->as<double>({}), 1.5);

  events.clear();
  e->set_value(DValue(1.5));
  e->set_value(DValue(-0.0));
  e->set_value(DValue(0.0));
  EXPECT_EQ(events.size(), 4u);  // only the first distinct value notifies
  events.clear();
  e->set_value(DValue(std::nan("")));
  e->set_value(DValue(std::nan("")));
  EXPECT_EQ(events.size(), 8u);  // NaN never equals itself

  // On a linked attribute: link-change first, then change, even for an equal value.
  events.clear();
  b->set_value(DValue(std::string("x")));
  a->set_value(a->value());
  EXPECT_EQ(events, (Events{"b.link", "b.change", "a.change", "a.link", "a.change"}));
  EXPECT_EQ(a->link(), nullptr);
  EXPECT_EQ(a->as<std::string>({}), "x");
}

TEST_F(AttributeLinks, set_value_from_text_stores_a_string_and_refuses_null) {
  DAttribute attribute("A");
  attribute.set_value("12");
  EXPECT_EQ(attribute.as_if<double>({}), nullptr);
  EXPECT_EQ(attribute.as<std::string>({}), "12");
  watch(&attribute, "a", events);
  EXPECT_THROW(attribute.set_value(static_cast<const char*>(nullptr)), std::logic_error);
  EXPECT_EQ(attribute.as<std::string>({}), "12");
  EXPECT_TRUE(events.empty());
}

TEST_F(AttributeLinks, break_link_keeps_the_value_read_and_dependents_stay_linked) {
  const auto [target, middle, reader] = attributes({"T", "M", "R"});
  target->set_value(DValue(3.0));
  middle->create_link(target);
  reader->create_link(middle);
  watch_all({{target, "t"}, {middle, "m"}, {reader, "r"}});

  middle->break_link(true);
  EXPECT_EQ(events, (Events{"m.link", "m.change", "r.change"}));
  EXPECT_EQ(middle->link(), nullptr);
  EXPECT_TRUE(target->dependents(false).empty());
  EXPECT_EQ(reader->link()->target, middle);
  EXPECT_EQ(reader->as<double>({}), 3.0);

  events.clear();
  middle->break_link(true);  // plain: nothing happens
  reader->break_link(false);
  EXPECT_EQ(events, (Events{"r.link"}));
  EXPECT_EQ(reader->as<double>({}), 3.0);
}

TEST_F(AttributeLinks, create_link_refuses_cycles_and_notifies_target_side_first) {
  const auto [a, b, c, d] = attributes({"A", "B", "C", "D"});
  a->set_value(DValue(1.0));
  EXPECT_FALSE(a->create_link(nullptr));
  EXPECT_FALSE(a->create_link(a));
  EXPECT_FALSE(a->create_link(std::string()));
  ASSERT_TRUE(b->create_link(a));
  EXPECT_FALSE(a->create_link(b));
  EXPECT_EQ(a->link(), nullptr);
  EXPECT_EQ(a->as<double>({}), 1.0);
  EXPECT_EQ(b->link()->path, "L/A");

  watch_all({{a, "a"}, {b, "b"}, {c, "c"}, {d, "d"}});
  ASSERT_TRUE(d->create_link(c));
  events.clear();
  ASSERT_TRUE(c->create_link(b));
  EXPECT_EQ(events, (Events{"b.link", "c.link", "d.link", "c.change", "d.change"}));
  EXPECT_EQ(d->as<double>({}), 1.0);

  // Relinking by path drops the old target and keeps its value until resolved.
  events.clear();
  ASSERT_TRUE(c->create_link(std::string("A")));
  EXPECT_EQ(events, (Events{"c.link", "c.link", "d.link", "c.change", "d.change"}));
  EXPECT_EQ(c->link()->target, nullptr);
  EXPECT_EQ(b->dependents(false), std::vector<DAttribute*>{});
  EXPECT_EQ(d->as<double>({}), 1.0);
  c->resolve_links();
  EXPECT_EQ(c->link()->target, a);
  EXPECT_TRUE(c->in_link_chain(a));
  EXPECT_TRUE(d->in_link_chain(a));
  EXPECT_FALSE(a->in_link_chain(d));
  EXPECT_FALSE(a->in_link_chain(nullptr));
}

TEST_F(AttributeLinks, create_link_stays_acyclic_when_a_callback_links_the_target_back) {
  const auto [a, old_target, t] = attributes({"A", "Old", "T"});
  ASSERT_TRUE(a->create_link(old_target));
  bool once = true;
  a->on_link_change([t, a, &once] {
    if (std::exchange(once, false)) t->create_link(a);
  });
  EXPECT_FALSE(a->create_link(t));
  EXPECT_EQ(a->link(), nullptr);
  EXPECT_EQ(t->link()->target, a);
  EXPECT_EQ(t->value().index(), 0u);  // reading ends, no loop
}

TEST_F(AttributeLinks, links_made_by_callbacks_while_a_link_is_replaced_never_dangle) {
  const auto [x, old_target, t] = attributes({"X", "Old", "T"});

  // Each attribute's first link-change callback links it to X; the link
  // being made replaces that one, and X must forget the attribute.
  auto relinks_once = [x](DAttribute* attribute) {
    auto once = std::make_shared<bool>(true);
    attribute->on_link_change([attribute, x, once] {
      if (std::exchange(*once, false)) attribute->create_link(x);
    });
  };
  auto* by_path = dMake<DAttribute>(layer, "ByPath");
  ASSERT_TRUE(by_path->create_link(old_target));
  relinks_once(by_path);
  ASSERT_TRUE(by_path->create_link(std::string("Old")));
  EXPECT_EQ(by_path->link()->path, "Old");
  EXPECT_EQ(by_path->link()->target, nullptr);

  auto* by_target = dMake<DAttribute>(layer, "ByTarget");
  ASSERT_TRUE(by_target->create_link(old_target));
  relinks_once(by_target);
  ASSERT_TRUE(by_target->create_link(t));
  EXPECT_EQ(by_target->link()->target, t);

  // Linked again by its own callback while it is destroyed.
  auto* doomed = dMake<DAttribute>(layer, "Doomed");
  ASSERT_TRUE(doomed->create_link(old_target));
  relinks_once(doomed);
  layer->destroy_child(doomed);
  EXPECT_TRUE(x->dependents(false).empty());
  EXPECT_EQ(t->dependents(false), std::vector<DAttribute*>{by_target});

  // A dependent linked back to an attribute while that one is destroyed.
  x->set_value(DValue(6.0));
  auto* source = dMake<DAttribute>(layer, "Source");
  source->set_value(DValue(2.0));
  auto* reader = dMake<DAttribute>(layer, "Reader");
  ASSERT_TRUE(reader->create_link(source));
  auto once = std::make_shared<bool>(true);
  reader->on_link_change([reader, source, once] {
    if (std::exchange(*once, false)) reader->create_link(source);
  });
  layer->destroy_child(source);
  EXPECT_EQ(reader->link(), nullptr);
  EXPECT_EQ(reader->as<double>({}), 2.0);
  x->set_value(DValue(7.0));  // walks X's dependents: none may be a destroyed one
}

TEST_F(AttributeLinks, callbacks_may_destroy_what_a_write_reports_and_the_write_stops_there) {
  // Each row builds A with dependents D (linked to A) and E (linked to D) in
  // layer L, lets one callback destroy something while `write` runs, and
  // lists the callbacks that ran. Nothing may read a destroyed record.
  struct Attributes {
    DLayer* layer;
    DAttribute* a;
    DAttribute* d;
    DAttribute* e;
    DAttribute* other;
    DAttribute* target;
  };
  struct Case {
    std::string name;
    std::function<void(Attributes&, Events&)> arrange;
    std::function<void(Attributes&)> write;
    Events expected;
  };
  const auto destroy = [](DLayer* layer, DAttribute* attribute) {
    return [layer, attribute, once = true]() mutable {
      if (std::exchange(once, false)) layer->destroy_child(attribute);
    };
  };
  const Case cases[] = {
      {"a change callback destroys the attribute it reports",
       [&](Attributes& x, Events&) { x.a->on_change(destroy(x.layer, x.a)); },
       [](Attributes& x) { x.a->set_value(DValue(2.0)); },
       {"d.link"}},
      {"a link-change callback destroys the attribute whose link a write breaks",
       [&](Attributes& x, Events&) {
         ASSERT_TRUE(x.a->create_link(x.other));
         x.a->on_link_change(destroy(x.layer, x.a));
       },
       [](Attributes& x) { x.a->set_value(DValue(2.0)); },
       {"d.link"}},
      {"the same, when break_link notifies",
       [&](Attributes& x, Events&) {
         ASSERT_TRUE(x.a->create_link(x.other));
         x.a->on_link_change(destroy(x.layer, x.a));
       },
       [](Attributes& x) { x.a->break_link(true); },
       {"d.link"}},
      {"a dependent destroys itself while it has dependents",
       [&](Attributes& x, Events&) { x.d->on_change(destroy(x.layer, x.d)); },
       [](Attributes& x) { x.a->set_value(DValue(2.0)); },
       {"d.change", "e.link", "d.link"}},
      {"a dependent destroys the attribute whose walk reaches it",
       [&](Attributes& x, Events&) {
         ASSERT_TRUE(dMake<DAttribute>(x.layer, "F")->create_link(x.a));
         x.e->on_change(destroy(x.layer, x.a));
       },
       [](Attributes& x) { x.a->set_value(DValue(2.0)); },
       {"d.change", "e.change", "d.link"}},
      {"a link-change callback destroys the target being linked to",
       [&](Attributes& x, Events&) {
         x.target = dMake<DAttribute>(x.layer, "T");
         ASSERT_TRUE(x.a->create_link(x.other));
         x.a->on_link_change(destroy(x.layer, x.target));
       },
       [](Attributes& x) {
         EXPECT_FALSE(x.a->create_link(x.target));
         EXPECT_EQ(x.a->link(), nullptr);
       },
       {}},
      {"a link-change callback destroys the attribute being linked by path",
       [&](Attributes& x, Events&) {
         ASSERT_TRUE(x.a->create_link(x.other));
         x.a->on_link_change(destroy(x.layer, x.a));
       },
       [](Attributes& x) { EXPECT_FALSE(x.a->create_link(std::string("Other"))); },
       {"d.link"}},
      {"a link-change callback destroys its attribute once linked",
       [&](Attributes& x, Events&) { x.a->on_link_change(destroy(x.layer, x.a)); },
       [](Attributes& x) { EXPECT_TRUE(x.a->create_link(x.other)); },
       {"d.link"}},
      {"a dependent's link-change callback destroys another dependent in a teardown",
       [&](Attributes& x, Events& events) {
         auto* f = dMake<DAttribute>(x.layer, "F");
         ASSERT_TRUE(f->create_link(x.a));
         watch(f, "f", events);
         x.d->on_link_change(destroy(x.layer, f));
       },
       [](Attributes& x) { x.layer->destroy_child(x.a); },
       {"d.link", "f.link"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DLayer root;
    Attributes x{dMake<DLayer>(&root, "L"), nullptr, nullptr, nullptr, nullptr, nullptr};
    x.a = dMake<DAttribute>(x.layer, "A");
    x.d = dMake<DAttribute>(x.layer, "D");
    x.e = dMake<DAttribute>(x.layer, "E");
    x.other = dMake<DAttribute>(x.layer, "Other");
    ASSERT_TRUE(x.d->create_link(x.a));
    ASSERT_TRUE(x.e->create_link(x.d));
    watch(x.d, "d", events);
    watch(x.e, "e", events);
    c.arrange(x, events);
    events.clear();
    c.write(x);
    EXPECT_EQ(events, c.expected);
    // What is left still notifies, and lists no destroyed dependent.
    x.other->set_value(DValue(9.0));
  }
}

TEST_F(AttributeLinks, long_link_chains_notify_and_list_without_exhausting_the_stack) {
  // Each attribute links to the one before it: a chain as long as a big file can write.
  constexpr int kChain = 100000;
  std::vector<DAttribute*> chain;
  chain.reserve(kChain);
  for (int i = 0; i < kChain; ++i)
    chain.push_back(dMake<DAttribute>(layer, "a" + std::to_string(i)));
  // Linked by name and resolved from the far end, so each cycle check is one step.
  for (int i = 1; i < kChain; ++i) ASSERT_TRUE(chain[i]->create_link("a" + std::to_string(i - 1)));
  for (int i = kChain - 1; i > 0; --i) chain[i]->resolve_links();
  int changes = 0;
  for (DAttribute* attribute : chain) attribute->on_change([&changes] { ++changes; });

  chain[0]->set_value(DValue{2.0});
  EXPECT_EQ(changes, kChain);
  EXPECT_EQ(chain.back()->as<double>({}), 2.0);

  const std::vector<DAttribute*> all = chain[0]->dependents(true);
  ASSERT_EQ(all.size(), std::size_t(kChain - 1));
  EXPECT_EQ(all.front(), chain[1]);
  EXPECT_EQ(all.back(), chain.back());
}

TEST_F(AttributeLinks, recursive_dependents_list_direct_ones_first_then_each_ones_whole_list) {
  const auto [root, a, b, a1, a2, a11, b1] =
      attributes({"root", "a", "b", "a1", "a2", "a11", "b1"});
  a->create_link(root);
  b->create_link(root);
  a1->create_link(a);
  a2->create_link(a);
  a11->create_link(a1);
  b1->create_link(b);
  EXPECT_EQ(root->dependents(true), (std::vector<DAttribute*>{a, b, a1, a2, a11, b1}));
  EXPECT_EQ(root->dependents(false), (std::vector<DAttribute*>{a, b}));

  std::vector<std::string> order;
  for (DAttribute* attribute : {root, a, b, a1, a2, a11, b1}) {
    attribute->on_change([&order, attribute] { order.push_back(attribute->object_name()); });
  }
  root->set_value(DValue{1.0});
  EXPECT_EQ(order, (std::vector<std::string>{"root", "a", "a1", "a11", "a2", "b", "b1"}));
}

TEST_F(AttributeLinks, callback_ids_count_per_map_from_zero) {
  DAttribute attribute("A");
  EXPECT_EQ(attribute.on_change([] {}), DConnectionID(0));
  EXPECT_EQ(attribute.on_change([] {}), DConnectionID(1));
  EXPECT_EQ(attribute.on_link_change([] {}), DConnectionID(0));
  attribute.disconnect_change(0);
  attribute.disconnect_change(7);
  EXPECT_EQ(attribute.on_change([] {}), DConnectionID(2));

  // An empty callback is stored and fails only when called.
  attribute.on_change(nullptr);
  EXPECT_THROW(attribute.set_value(DValue(1.0)), std::bad_function_call);
  EXPECT_EQ(attribute.as<double>({}), 1.0);
}

TEST_F(AttributeLinks, notification_walks_a_snapshot_of_callbacks_and_dependents) {
  const auto [a, first, second, third] = attributes({"A", "First", "Second", "Third"});
  first->create_link(a);
  second->create_link(a);
  third->create_link(a);

  // Disconnecting the next callback skips it; one added meanwhile waits.
  DConnectionID next;
  a->on_change([&] {
    events.push_back("a0");
    a->disconnect_change(next);
    a->on_change([&] { events.push_back("late"); });
  });
  next = a->on_change([&] { events.push_back("a1"); });
  // A dependent whose link is broken during the walk is skipped.
  first->on_change([&] {
    events.push_back("first");
    second->break_link(false);
  });
  second->on_change([&] { events.push_back("second"); });
  third->on_change([&] {
    events.push_back("third");
    dMake<DAttribute>(layer, "Fourth")->create_link(a);  // not visited in this walk
  });
  a->set_value(DValue(1.0));
  EXPECT_EQ(events, (Events{"a0", "first", "third"}));

  events.clear();
  a->set_value(DValue(2.0));
  EXPECT_EQ(events, (Events{"a0", "late", "first", "third"}));
  EXPECT_EQ(a->dependents(false).size(), 4u);

  // Callbacks run from their own entries: a callable's state persists between
  // notifications, also when it disconnects itself during its call.
  std::vector<int> counts;
  DConnectionID counter;
  counter = third->on_change([&, count = 0]() mutable {
    counts.push_back(++count);
    if (count == 3) third->disconnect_change(counter);
  });
  for (int i = 0; i < 4; ++i) third->set_value(DValue(double(i)));
  EXPECT_EQ(counts, (std::vector<int>{1, 2, 3}));
}

TEST_F(AttributeLinks, clone_to_copies_value_link_path_and_states_in_name_order) {
  DLayer root;
  auto* source = dMake<DLayer>(&root, "Source");
  auto* copy_parent = dMake<DLayer>(&root, "Copy");
  auto* target = dMake<DAttribute>(source, "Target");
  target->set_value(DValue(5.0));
  auto* fill = dMake<DAttribute>(source, "Fill");
  fill->set_value(DValue(std::string("#ff000000")));
  dMake<DAttribute>(fill, "Pressed")->set_value(DValue(2.0));
  auto* hover = dMake<DAttribute>(fill, "Hover");
  hover->create_link(std::string("Target"));
  dMake<DAttribute>(hover, "Focus:Hover")->set_value(DValue(true));
  source->resolve_links();
  ASSERT_EQ(hover->link()->target, target);
  fill->on_change([] { FAIL() << "callbacks are not copied"; });

  fill->clone_to(copy_parent);
  auto* copy = copy_parent->find_attribute("Fill");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->as<std::string>({}), "#ff000000");
  ASSERT_EQ(copy->children().size(), 2u);
  EXPECT_EQ(copy->children()[0]->object_name(), "Hover");
  EXPECT_EQ(copy->children()[1]->object_name(), "Pressed");
  auto* hover_copy = static_cast<DAttribute*>(copy->children()[0].get());
  ASSERT_NE(hover_copy->link(), nullptr);
  EXPECT_EQ(hover_copy->link()->path, "Target");
  EXPECT_EQ(hover_copy->link()->target, nullptr);
  EXPECT_EQ(hover_copy->value().index(), 0u);
  EXPECT_EQ(hover_copy->states(false).size(), 1u);
  EXPECT_EQ(target->dependents(false).size(), 1u);

  // Cloning below itself copies only what was there.
  fill->clone_to(fill);
  EXPECT_EQ(fill->states(false).size(), 3u);
  EXPECT_EQ(fill->states(false).at("Fill")->states(false).size(), 2u);

  // Into one of its own states: one copy, with the states as they were.
  fill->clone_to(hover);
  ASSERT_EQ(hover->states(false).size(), 2u);
  auto* inner = hover->states(false).at("Fill");
  EXPECT_EQ(inner->states(false).size(), 3u);
  EXPECT_EQ(inner->states(false).at("Hover")->states(false).size(), 1u);
  EXPECT_EQ(inner->states(false).at("Fill")->states(false).size(), 2u);
}

TEST_F(AttributeLinks, destruction_leaves_dependents_with_the_value_they_read) {
  const auto [e, b, a, c] = attributes({"E", "B", "A", "C"});
  e->set_value(DValue(8.0));
  b->create_link(e);
  a->create_link(b);
  c->create_link(b);
  watch_all({{e, "e"}, {a, "a"}, {c, "c"}});

  layer->destroy_child(b);
  EXPECT_EQ(events, (Events{"a.link", "c.link"}));
  EXPECT_EQ(a->link(), nullptr);
  EXPECT_EQ(a->as<double>({}), 8.0);
  EXPECT_EQ(c->as<double>({}), 8.0);
  EXPECT_TRUE(e->dependents(false).empty());

  // A dependent relinked by a callback during the teardown keeps its new link.
  const auto [doomed, first, second] = attributes({"Doomed", "First", "Second"});
  first->create_link(doomed);
  second->create_link(doomed);
  first->on_link_change([&] { second->create_link(e); });
  layer->destroy_child(doomed);
  EXPECT_EQ(first->link(), nullptr);
  ASSERT_NE(second->link(), nullptr);
  EXPECT_EQ(second->link()->target, e);
  EXPECT_EQ(e->dependents(false), std::vector<DAttribute*>{second});

  // Destroying a linked attribute leaves its target without it.
  layer->destroy_child(second);
  EXPECT_TRUE(e->dependents(false).empty());
}

TEST_F(AttributeLinks, callbacks_during_a_layer_teardown_see_it_whole_and_out_of_its_tree) {
  // A link-change callback run by the teardown finds the destroyed layer and
  // its attributes whole, and the tree without them.
  DLayer root;
  auto* outer = dMake<DLayer>(&root, "Outer");
  auto* source = dMake<DAttribute>(outer, "Source");
  auto* inner = dMake<DLayer>(outer, "Inner");
  auto* linked = dMake<DAttribute>(inner, "Linked");
  auto* wanted = dMake<DAttribute>(outer, "Wanted");
  source->set_value(DValue(3.0));
  ASSERT_TRUE(linked->create_link(source));

  DLayer* seen_parent = nullptr;
  DAttribute* found = nullptr;
  DLayer* from_root = outer;
  std::string seen_path;
  double seen_value = 0.0;
  linked->on_link_change([&] {
    seen_parent = inner->parent();
    found = find_link_target(linked, "Wanted");
    from_root = root.find_layer("Outer");
    seen_path = linked->path();
    seen_value = linked->as<double>({"Hover"});
  });
  root.destroy_child(outer);
  EXPECT_EQ(seen_parent, outer);
  EXPECT_EQ(found, wanted);
  EXPECT_EQ(from_root, nullptr);
  EXPECT_EQ(seen_path, "Outer/Inner/Linked");
  EXPECT_EQ(seen_value, 3.0);
}

}  // namespace
}  // namespace Drelm
