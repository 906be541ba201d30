#include "theme_language/internal/load_limits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "support/files.h"
#include "support/log_capture.h"
#include "theme_language/attribute.h"
#include "theme_language/engine.h"
#include "theme_language/internal/object_access.h"
#include "theme_language/internal/tree_access.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/parser.h"

namespace Drelm {
namespace {

namespace fs = std::filesystem;

class LoadLimits : public testing::Test {
 protected:
  support::LogCapture capture;
  support::TempDir dir;
};

DLayerNode parse(const std::string& text) {
  DLexer lexer(text);
  DParser parser(lexer.build_tokens());
  return parser.parse_file();
}

std::size_t count_layers(DLayer* layer) {
  std::size_t count = 1;
  for (DLayer* child : layer->children()) count += count_layers(child);
  return count;
}

TEST_F(LoadLimits, lowerings_are_counted_with_every_expansion_and_saturate) {
  EXPECT_EQ(count_lowerings(parse("A: 1\nB: 2 @Hover: 3\n"), 100), 3u);
  // Two layer targets, each lowering its body of two attribute targets.
  EXPECT_EQ(count_lowerings(parse("(X, Y):\n    (a, b): 1\n"), 100), 6u);
  EXPECT_EQ(count_lowerings(parse("G.\n    (a, b, c): 1\n"), 100), 3u);
  std::string doubling;
  for (int i = 0; i < 40; ++i) doubling += "(a, b) ";
  EXPECT_EQ(count_lowerings(parse(doubling + "x: 1\n"), 1000), 1001u);
}

TEST_F(LoadLimits, a_file_that_expands_beyond_its_budget_is_refused_whole) {
  std::string doubling;
  for (int i = 0; i < 24; ++i) doubling += "(a, b) ";
  dir.write("huge.drl", "Kept: 1\n" + doubling + "Leaf: 1\n");
  dir.write("small.drl", "(A, B) (C, D):\n    Fill: #fff\n");
  DEngine engine;
  engine.load_files(dir.string(), "");
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0].rfind("engine: " + dir.string() +
                                         "/huge.drl: Failed to load file because its "
                                         "declarations expand to more than ",
                                     0),
            0u)
      << capture.lines()[0];
  EXPECT_EQ(engine.root()->find_attribute("Kept"), nullptr);
  ASSERT_NE(engine.find_layer("B D"), nullptr);
  EXPECT_NE(engine.find_layer("B D")->find_attribute("Fill"), nullptr);
}

TEST_F(LoadLimits, ordinary_interfaces_load_whole_and_silently) {
  // A grid of 20 x 20 cells of 30 attributes: some 12,400 objects from 33 lines.
  std::string grid = "Grid:\n    (R1";
  for (int row = 2; row <= 20; ++row) grid += ", R" + std::to_string(row);
  grid += "):\n        (C1";
  for (int cell = 2; cell <= 20; ++cell) grid += ", C" + std::to_string(cell);
  grid += "):\n";
  for (int a = 1; a <= 30; ++a) grid += "            A" + std::to_string(a) + ": 1\n";
  dir.write("grid.drl", grid);
  {
    DEngine engine;
    engine.load_files(dir.string(), "");
    EXPECT_EQ(capture.lines(), std::vector<std::string>{});
    EXPECT_EQ(count_layers(engine.root()), 1u + 1 + 20 + 400);
    ASSERT_NE(engine.find_layer("Grid/R20/C20"), nullptr);
    EXPECT_EQ(engine.find_layer("Grid/R20/C20")->attributes().size(), 30u);
  }
  fs::remove(dir.path() / "grid.drl");

  // 300 instances of a widget of 101 objects loaded earlier, then an unrelated base.
  std::string card = "Card:\n";
  for (int part = 1; part <= 10; ++part) {
    card += "    Part" + std::to_string(part) + ":\n";
    for (int a = 1; a <= 9; ++a) card += "        A" + std::to_string(a) + ": 1\n";
  }
  card += "Small:\n    Only: 1\n";
  const fs::path widgets = dir.path() / "widgets";
  fs::create_directories(widgets);
  std::ofstream(widgets / "card.drl", std::ios::binary) << card;
  std::string app = "App:\n";
  for (int item = 1; item <= 300; ++item)
    app += "    Item" + std::to_string(item) + " << Ombrix/Card\n";
  app += "    Footer << Ombrix/Small\n";
  const fs::path mounts = dir.path() / "mounts";
  fs::create_directories(mounts);
  std::ofstream(mounts / "app.drl", std::ios::binary) << app;
  DEngine engine;
  engine.load_files(widgets.string(), "Ombrix");
  engine.load_files(mounts.string(), "");
  EXPECT_EQ(capture.lines(), std::vector<std::string>{});
  for (const char* item : {"App/Item1", "App/Item293", "App/Item300"}) {
    SCOPED_TRACE(item);
    DLayer* layer = engine.find_layer(item);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(measure_subtree(layer).objects, 100u);
    EXPECT_EQ(layer->base(), engine.find_layer("Ombrix/Card"));
  }
  ASSERT_NE(engine.find_layer("App/Footer"), nullptr);
  EXPECT_NE(engine.find_layer("App/Footer")->find_attribute("Only"), nullptr);
}

TEST_F(LoadLimits, bases_that_double_every_level_are_refused_whole_where_they_outgrow_the_source) {
  std::string text;
  for (int level = 0; level < 24; ++level) {
    const std::string next = "L" + std::to_string(level + 1);
    text += "L" + std::to_string(level) + ":\n    A << " + next + "\n    B << " + next + "\n";
  }
  text += "L24:\n    Leaf: 1\n";
  // Unrelated bases that come after the refusal.
  text += "Small:\n    Only: 1\nFooter << Small\n";
  dir.write("doubling.drl", text);
  DEngine engine;
  engine.load_files(dir.string(), "");
  EXPECT_LT(count_layers(engine.root()), std::size_t(1000000));
  // Both layers of one level are refused, each on its own; no other is.
  ASSERT_EQ(capture.lines().size(), 2u);
  const std::string level = capture.lines()[0].substr(8, capture.lines()[0].find('/') - 8);
  const std::string next = "L" + std::to_string(std::stoi(level.substr(1)) + 1);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string layer = level + (i == 0 ? "/A" : "/B");
    SCOPED_TRACE(capture.lines()[i]);
    EXPECT_EQ(capture.lines()[i].rfind("engine: " + layer + ": Failed to apply base `" + next +
                                           "` because it would copy more than ",
                                       0),
              0u);
    EXPECT_NE(capture.lines()[i].find(" objects, out of proportion to the " +
                                      std::to_string(text.size()) +
                                      " bytes of source read; the layer inherits nothing."),
              std::string::npos);
    // Refused whole: neither the copies nor the kind or states of the base.
    DLayer* refused = engine.find_layer(layer);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->base(), nullptr);
    EXPECT_FALSE(refused->has_unresolved_base());
    EXPECT_TRUE(refused->children().empty());
  }
  // The level above inherits the refused level whole, and a later base applies.
  const std::string above = "L" + std::to_string(std::stoi(level.substr(1)) - 1);
  ASSERT_NE(engine.find_layer(above + "/A/B"), nullptr);
  EXPECT_EQ(engine.find_layer(above + "/A")->base(), engine.find_layer(level));
  ASSERT_NE(engine.find_layer("Footer"), nullptr);
  EXPECT_NE(engine.find_layer("Footer")->find_attribute("Only"), nullptr);

  // A later load does not give the refused layer its base after all.
  fs::remove(dir.path() / "doubling.drl");
  dir.write("later.drl", "Later: 1\n");
  engine.load_files(dir.string(), "");
  EXPECT_EQ(engine.find_layer(level + "/A")->base(), nullptr);
  EXPECT_EQ(capture.lines().size(), 2u);
}

TEST_F(LoadLimits, inheritance_never_nests_layers_deeper_than_the_parser_allows) {
  // A layer 1000 levels down inheriting a base 100 levels deep.
  std::string text = "Tall:\n";
  for (int level = 1; level < 100; ++level) text += std::string(level, ' ') + "T:\n";
  text += std::string(100, ' ') + "Leaf: 1\n";
  text += "Deep:\n";
  for (int level = 1; level < 1000; ++level) text += std::string(level, ' ') + "D:\n";
  text += std::string(1000, ' ') + "Bottom << Tall\n";
  text += "Shallow << Tall\n";
  dir.write("deep.drl", text);
  DEngine engine;
  engine.load_files(dir.string(), "");
  ASSERT_EQ(capture.lines().size(), 1u) << capture.lines()[0];
  EXPECT_NE(
      capture.lines()[0].find("/Bottom: Failed to apply base `Tall` because the layers would nest "
                              "deeper than 1024 levels; the layer inherits nothing."),
      std::string::npos)
      << capture.lines()[0];
  // The shallow copy is made in full.
  std::string path = "Shallow";
  for (int level = 1; level < 100; ++level) path += "/T";
  ASSERT_NE(engine.find_layer(path), nullptr);
  EXPECT_NE(engine.find_layer(path)->find_attribute("Leaf"), nullptr);
}

// Sources that are large in one direction: deep paths, many siblings, long
// link chains. Each loads (or is refused) with exactly its diagnostics and the
// structure it declares; the sizes are those that were slow or crashed.
TEST_F(LoadLimits, size_cases) {
  const auto repeat = [](const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
  };
  const auto chain = [](int count) {
    std::string text = "Chain:\n A0: 1\n";
    for (int i = 1; i < count; ++i) {
      text += " A" + std::to_string(i) + ": A" + std::to_string(i - 1) + "\n";
    }
    return text;
  };
  // The layers below `layer` along first children.
  const auto depth_below = [](DLayer* layer) {
    std::size_t levels = 0;
    for (; !layer->children().empty(); layer = layer->children().front()) ++levels;
    return levels;
  };
  const std::string refused = "engine: FILE: Failed to load file.";
  struct SizeCase {
    std::string name;
    std::string source;
    std::vector<std::string> log;  // FILE stands for the file's path
    std::function<void(DEngine&)> check;
  };
  const std::vector<SizeCase> cases = {
      {"a path as deep as blocks may nest",
       repeat("L/", 1024) + "Leaf: 1\n",
       {},
       [&](DEngine& engine) {
         EXPECT_EQ(depth_below(engine.root()), 1024u);
         EXPECT_NE(find_layer_path(*engine.root(), repeat("L/", 1024))->find_attribute("Leaf"),
                   nullptr);
       }},
      // As a body of 1024 nested blocks may declare one layer without body.
      {"a path ending in a layer without body",
       repeat("L/", 1024) + "Last\n",
       {},
       [&](DEngine& engine) { EXPECT_EQ(depth_below(engine.root()), 1025u); }},
      {"a path one level deeper",
       repeat("L/", 1025) + "Leaf: 1\nAfter: 1\n",
       {refused, "parser: FILE:1: Found path nested deeper than 1024 levels; skipping it."},
       [&](DEngine& engine) { EXPECT_TRUE(engine.root()->children().empty()); }},
      // Blocks and paths add up; the statement is skipped with its body and
      // the rest of the file is read on.
      {"a path below nested blocks",
       "A:\n B:\n  " + repeat("L/", 1023) + "C:\n   x: 1\n  D: 1\n Bad: 1 1\n",
       {refused, "parser: FILE:3: Found path nested deeper than 1024 levels; skipping it.",
        "parser: FILE:6: Found unexpected `1`; expected a line end after attribute."},
       [&](DEngine& engine) { EXPECT_EQ(engine.root()->children().size(), 0u); }},
      {"a path in a state-set",
       "A:\n @Hover:\n  " + repeat("L/", 1024) + "x: 1\n",
       {refused, "parser: FILE:3: Found path nested deeper than 1024 levels; skipping it."},
       nullptr},
      {"a group-set path",
       repeat("L/", 1025) + "G.\n x: 1\n",
       {refused, "parser: FILE:1: Found path nested deeper than 1024 levels; skipping it."},
       nullptr},
      // Once a stack overflow in loading, rendering and tearing down.
      {"a path of 100,000 names",
       repeat("A/", 100000) + "A: 1\n",
       {refused, "parser: FILE:1: Found path nested deeper than 1024 levels; skipping it."},
       nullptr},
      {"20,000 sibling layers",
       [] {
         std::string text = "Siblings:\n";
         for (int i = 0; i < 20000; ++i) text += " S" + std::to_string(i) + "\n";
         return text;
       }(),
       {},
       [](DEngine& engine) {
         DLayer* siblings = engine.find_layer("Siblings");
         ASSERT_NE(siblings, nullptr);
         const std::vector<DLayer*> children = siblings->children();
         ASSERT_EQ(children.size(), 20000u);
         for (std::size_t i = 0; i < children.size(); i += 997) {
           EXPECT_EQ(children[i]->object_name(), "S" + std::to_string(i));
           EXPECT_EQ(engine.find_layer("Siblings/S" + std::to_string(i)), children[i]);
         }
         // The list follows every later change, not only appends.
         siblings->destroy_child(children[1]);
         dMake<DLayer>(siblings, "Added");
         siblings->reorder_children({siblings->children().back(), children[0]});
         const std::vector<DLayer*> changed = siblings->children();
         ASSERT_EQ(changed.size(), 20000u);
         EXPECT_EQ(changed[0]->object_name(), "Added");
         EXPECT_EQ(changed[1]->object_name(), "S2");
         EXPECT_EQ(changed[19999]->object_name(), "S0");
         EXPECT_EQ(engine.find_layer("Siblings/S1"), nullptr);
         children[2]->set_object_name("Renamed");
         EXPECT_EQ(engine.find_layer("Siblings/Renamed"), children[2]);
       }},
      {"a chain of 20,000 links declared in order",
       chain(20000),
       {},
       [](DEngine& engine) {
         engine.resolve_links();
         engine.resolve_links();  // again, as nothing changed
         EXPECT_TRUE(support::LogCapture::lines().empty());
         EXPECT_TRUE(engine.unresolved_links().empty());
         DAttribute* last = engine.find_layer("Chain")->find_attribute("A19999");
         ASSERT_NE(last->as_if<double>({}), nullptr);
         EXPECT_EQ(*last->as_if<double>({}), 1.0);
         EXPECT_EQ(last->link()->target->object_name(), "A19998");
       }},
      {"3,000 bases declared first to last",
       [] {
         std::string text = "A0:\n X: 1\n";
         for (int i = 1; i < 3000; ++i) {
           text += "A" + std::to_string(i) + " << A" + std::to_string(i - 1) + "\n";
         }
         return text;
       }(),
       {},
       [](DEngine& engine) {
         for (int i = 1; i < 3000; i += 1) {
           DLayer* layer = engine.find_layer("A" + std::to_string(i));
           ASSERT_NE(layer, nullptr);
           EXPECT_EQ(layer->base(), engine.find_layer("A" + std::to_string(i - 1)));
           DAttribute* x = layer->find_attribute("X");
           ASSERT_NE(x, nullptr);
           EXPECT_EQ(x->as<double>({}), 1.0);
         }
       }},
      // The chain of unfinished bases that one layer waits on is what is bounded.
      {"5,000 bases declared last to first",
       [] {
         std::string text;
         for (int i = 4999; i > 0; --i) {
           text += "A" + std::to_string(i) + " << A" + std::to_string(i - 1) + "\n";
         }
         return text + "A0:\n X: 1\n";
       }(),
       {"engine: A903: Failed to apply base `A902` because bases lead through more than 4096 "
        "layers; the layer inherits nothing."},
       [](DEngine& engine) {
         EXPECT_EQ(engine.find_layer("A903")->base(), nullptr);
         EXPECT_EQ(engine.find_layer("A4999")->find_attribute("X"), nullptr);
         EXPECT_EQ(engine.find_layer("A904")->base(), engine.find_layer("A903"));
         ASSERT_NE(engine.find_layer("A902")->find_attribute("X"), nullptr);
         EXPECT_EQ(engine.find_layer("A902")->find_attribute("X")->as<double>({}), 1.0);
       }},
      {"an attribute with 5,000 states",
       [] {
         std::string text = "A:\n X: 0";
         for (int i = 0; i < 5000; ++i)
           text += " @s" + std::to_string(i) + ": " + std::to_string(i);
         // Declared again: the same state takes the later value.
         return text + "\n X: 0 @s7: -7 @s4999: -1\n";
       }(),
       {},
       [](DEngine& engine) {
         DAttribute* x = engine.find_layer("A")->find_attribute("X");
         ASSERT_NE(x, nullptr);
         ASSERT_EQ(x->children().size(), 5000u);
         for (int i = 0; i < 5000; i += 157) {
           const std::string name = "s" + std::to_string(i);
           DAttribute* state = find_own_state(*x, name);
           ASSERT_NE(state, nullptr);
           EXPECT_EQ(state->object_name(), name);
           EXPECT_EQ(x->as<double>({name}), i);
         }
         EXPECT_EQ(x->as<double>({"s7"}), -7.0);
         EXPECT_EQ(x->as<double>({"s4999"}), -1.0);
         EXPECT_EQ(find_own_state(*x, "s5000"), nullptr);
         // A rename is seen at once.
         find_own_state(*x, "s5")->set_object_name("t5");
         EXPECT_EQ(find_own_state(*x, "s5"), nullptr);
         EXPECT_EQ(find_own_state(*x, "t5")->as<double>({}), 5.0);
       }},
      // Each nested layer declares an attribute of its own and takes the
      // rest, values and states, from the nested layers along the chain.
      {"2,000 bases each with a nested layer of its own",
       [] {
         std::string text = "A0:\n N:\n  X: 1 @s: 2\n";
         for (int i = 1; i < 2000; ++i) {
           text += "A" + std::to_string(i) + " << A" + std::to_string(i - 1) + ":\n N:\n  Y" +
                   std::to_string(i % 3) + ": " + std::to_string(i) + "\n";
         }
         return text;
       }(),
       {},
       [](DEngine& engine) {
         for (int i = 1; i < 2000; i += 97) {
           DLayer* nested = engine.find_layer("A" + std::to_string(i) + "/N");
           ASSERT_NE(nested, nullptr);
           EXPECT_EQ(nested->base(), engine.find_layer("A" + std::to_string(i - 1) + "/N"));
           EXPECT_EQ(nested->find_attribute("X")->as<double>({"s"}), 2.0);
           const auto y = [&](int k) { return nested->find_attribute("Y" + std::to_string(k)); };
           EXPECT_EQ(y(i % 3)->as<double>({}), i);
           if (i > 1) {
             ASSERT_NE(y((i - 1) % 3), nullptr);
             EXPECT_EQ(y((i - 1) % 3)->as<double>({}), i - 1);
           }
         }
         // A state added at the chain's far end after loading is copied by a
         // later merge like any other.
         dMake<DAttribute>(engine.find_layer("A0/N")->find_attribute("X"), "late");
         DLayer* later = dMake<DLayer>(engine.root(), "Later");
         later->set_base_path("A1999");
         dMake<DAttribute>(dMake<DLayer>(later, "N"), "X");
         engine.root()->resolve_bases();
         later->finalize();
         DAttribute* x = engine.find_layer("Later/N")->find_attribute("X");
         EXPECT_NE(find_own_state(*x, "late"), nullptr);
         EXPECT_NE(find_own_state(*x, "s"), nullptr);
       }},
      // Every layer has its own attribute of one name, some with states: the
      // states each one finds are those of a plain walk of its chain, the
      // first look-up asked at the near end.
      {"3,000 bases each with its own attribute, states on some",
       [] {
         std::string text = "A0:\n F: 0 @s0: 0\n";
         for (int i = 1; i < 3000; ++i) {
           text += "A" + std::to_string(i) + " << A" + std::to_string(i - 1) +
                   ":\n F: " + std::to_string(i) +
                   (i % 500 == 0 ? " @s" + std::to_string(i) + ": 1" : "") + "\n";
         }
         return text;
       }(),
       {},
       [](DEngine& engine) {
         const auto f = [&](int i) {
           return engine.find_layer("A" + std::to_string(i))->find_attribute("F");
         };
         const auto plain_walk = [](DAttribute& attribute) {
           std::map<std::string, DAttribute*, std::less<>> found;
           const auto add = [&](DAttribute& from) {
             for (DAttribute* state : own_states_by_name(from)) {
               found.emplace(state->object_name(), state);
             }
           };
           add(attribute);
           for (DLayer* base = as_layer(attribute.parent())->base(); base != nullptr;
                base = base->base()) {
             DAttribute* from = base->find_attribute(attribute.object_name());
             if (from == nullptr) break;
             add(*from);
           }
           return found;
         };
         const auto check = [&] {
           for (int i : {2999, 2500, 1501, 1500, 1499, 700, 1, 0}) {
             SCOPED_TRACE(i);
             DAttribute* attribute = f(i);
             const auto expected = plain_walk(*attribute);
             EXPECT_EQ(attribute->states(true), expected);
             for (const auto& [name, state] : expected) EXPECT_EQ(attribute->state({name}), state);
             EXPECT_EQ(attribute->state({"none"}), nullptr);
           }
         };
         ASSERT_NE(f(2999)->state({"s0"}), nullptr);
         check();
         dMake<DAttribute>(f(0), "late");
         ASSERT_NE(f(2999)->state({"late"}), nullptr);
         check();
         f(1000)->children().front()->set_object_name("renamed");
         EXPECT_EQ(f(2999)->state({"s1000"}), nullptr);
         check();
       }},
      // States nest under states as deep as calls make them.
      {"an attribute with states nested 100,000 deep",
       "A:\n X: 1\n",
       {},
       [](DEngine& engine) {
         DLayer* layer = engine.find_layer("A");
         // Built from the bottom, each placed under a new top.
         auto below = std::make_unique<DAttribute>("s");
         std::vector<DAttribute*> nested{below.get()};
         for (int i = 1; i < 100000; ++i) {
           auto above = std::make_unique<DAttribute>("s");
           above->add_child(std::move(below));
           below = std::move(above);
           nested.push_back(below.get());
         }
         nested.push_back(layer->find_attribute("X"));
         nested.back()->add_child(std::move(below));
         std::reverse(nested.begin(), nested.end());
         nested.back()->create_link("A/X");
         nested[0]->resolve_links();
         EXPECT_EQ(nested.back()->link()->target, nested[0]);
         const std::string path = nested.back()->path();
         EXPECT_EQ(path.size(), std::string("A/X").size() + 2 * 100000);
         EXPECT_EQ(path.substr(0, 7), "A/X.s.s");
         std::vector<DAttribute*> found;
         layer->find_children_helper<DAttribute>(layer, found, true);
         EXPECT_EQ(found.size(), nested.size());
         EXPECT_EQ(found.back(), nested.back());
         nested[0]->clone_to(engine.root());
         DAttribute* const top = as_attribute(engine.root()->DObject::children().back().get());
         const DAttribute* copy = top;
         std::size_t depth = 0;
         for (; !copy->children().empty(); ++depth) {
           copy = as_attribute(copy->children().front().get());
         }
         EXPECT_EQ(depth, 100000u);
         EXPECT_EQ(copy->link()->path, "A/X");
         // Taken down whole, as teardown is not what this case is about.
         engine.root()->destroy_child(top);
         layer->destroy_child(nested[0]);
       }},
      // Once a stack overflow in resolving bases and finalizing: a tree built
      // by calls is as deep as they make it, and a load runs beside it.
      {"a load beside 100,000 nested layers",
       "Beside << Base\nBase:\n X: 1\n",
       {},
       [&](DEngine& engine) {
         std::vector<DLayer*> nested{engine.root()};
         for (int i = 0; i < 100000; ++i) nested.push_back(dMake<DLayer>(nested.back(), "D"));
         dMake<DAttribute>(nested.back(), "Y")->create_link("Base/X");
         engine.load_files(dir.string(), "");
         engine.resolve_links();
         EXPECT_TRUE(support::LogCapture::lines().empty());
         EXPECT_EQ(nested.back()->find_attribute("Y")->as<double>({}), 1.0);
         EXPECT_EQ(engine.find_layer("Beside")->find_attribute("X")->as<double>({}), 1.0);
         // And copied whole.
         nested[1]->clone_to(engine.root());
         std::vector<DLayer*> copy{engine.root()};
         for (DLayer* below = engine.root()->children().back(); below != nullptr;
              below = below->children().empty() ? nullptr : below->children().front()) {
           copy.push_back(below);
         }
         ASSERT_EQ(copy.size(), nested.size());
         EXPECT_EQ(copy.back()->find_attribute("Y")->link()->path, "Base/X");
         // Taken down from the bottom, as teardown is not what this case is about.
         for (const auto* taken : {&nested, &copy}) {
           for (std::size_t i = taken->size() - 1; i > 0; --i) {
             (*taken)[i - 1]->destroy_child((*taken)[i]);
           }
         }
       }},
      // The link that closes the loop is the one resolved last.
      {"a chain of 20,000 links closed into a loop",
       "Chain:\n A0: A19999\n" + chain(20000).substr(std::string("Chain:\n A0: 1\n").size()),
       {},
       [](DEngine& engine) {
         engine.resolve_links();
         ASSERT_EQ(support::LogCapture::lines().size(), 1u);
         EXPECT_EQ(support::LogCapture::lines()[0],
                   "engine: cyclic link `A19998` on attribute `Chain/A19999`.");
         const auto unresolved = engine.unresolved_links();
         ASSERT_EQ(unresolved.size(), 1u);
         EXPECT_TRUE(unresolved[0].cyclic);
         EXPECT_EQ(engine.find_layer("Chain")->find_attribute("A0")->link()->target->object_name(),
                   "A19999");
       }},
  };
  for (const SizeCase& size_case : cases) {
    SCOPED_TRACE(size_case.name);
    capture.lines().clear();
    const std::string file = dir.write("size.drl", size_case.source);
    DEngine engine;
    engine.load_files(dir.string(), "");
    std::vector<std::string> expected;
    for (std::string line : size_case.log) {
      if (const auto at = line.find("FILE"); at != std::string::npos) line.replace(at, 4, file);
      expected.push_back(line);
    }
    EXPECT_EQ(capture.lines(), expected);
    capture.lines().clear();
    if (size_case.check) size_case.check(engine);
  }
}

// Links that point anywhere, resolved against a model of the rules: a link
// whose target's chain leads back to it is cyclic and left without target,
// else it takes the target; the walks that find this stay linear.
TEST_F(LoadLimits, link_resolution_matches_the_chain_rule_in_any_order) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    constexpr int kCount = 300;
    unsigned state = seed;
    const auto next = [&state](int bound) {
      state = state * 1103515245u + 12345u;
      return int((state >> 8) % unsigned(bound));
    };
    DLayer root;
    DLayer* layer = dMake<DLayer>(&root, "L");
    std::vector<DAttribute*> attributes;
    std::vector<int> links(kCount);
    for (int i = 0; i < kCount; ++i) {
      DAttribute* attribute = dMake<DAttribute>(layer, "A" + std::to_string(i));
      attribute->set_value(DValue(double(i)));
      attributes.push_back(attribute);
    }
    // Mostly to a near neighbour, so that long chains form; some to no one.
    for (int i = 0; i < kCount; ++i) {
      const int kind = next(10);
      links[i] = kind == 0 ? -1 : kind < 3 ? next(kCount) : (i + kCount - 1 - next(3)) % kCount;
      if (kind == 9) continue;  // not linked
      attributes[i]->create_link(links[i] < 0 ? std::string("Missing")
                                              : "A" + std::to_string(links[i]));
    }
    std::vector<int> target(kCount, -1);
    for (int round = 0; round < 2; ++round) {
      capture.lines().clear();
      layer->resolve_links();
      std::size_t cyclic_lines = 0;
      for (int i = 0; i < kCount; ++i) {
        const DLink* link = attributes[i]->link();
        if (link == nullptr) continue;
        bool cyclic = false;
        if (links[i] >= 0) {
          for (int at = links[i]; at >= 0 && !cyclic; at = target[at]) cyclic = at == i;
          target[i] = cyclic ? -1 : links[i];
        }
        cyclic_lines += cyclic ? 1 : 0;
        EXPECT_EQ(link->cyclic, cyclic) << i;
        EXPECT_EQ(link->target, target[i] < 0 ? nullptr : attributes[target[i]]) << i;
      }
      std::size_t logged = 0;
      for (const std::string& line : capture.lines())
        logged += line.rfind("engine: cyclic", 0) == 0 ? 1 : 0;
      EXPECT_EQ(logged, cyclic_lines);
    }
  }
}

// Creation finds a tree's root through the nearest layer's cached root; a
// tree placed deep inside another must find its new root from then on.
TEST_F(LoadLimits, a_tree_placed_deep_in_another_finds_its_new_root) {
  DLayer root;
  DAttribute* base_fill = dMake<DAttribute>(dMake<DLayer>(&root, "Base"), "Fill");
  DAttribute* hover = dMake<DAttribute>(base_fill, "Hover");
  DLayer* holder = dMake<DLayer>(dMake<DLayer>(&root, "Outer"), "Holder");

  auto alone = std::make_unique<DLayer>("Alone");
  DLayer* deep = dMake<DLayer>(dMake<DLayer>(alone.get(), "A"), "B");
  deep->set_base_path("Base");
  DAttribute* fill = dMake<DAttribute>(deep, "Fill");
  EXPECT_EQ(fill->state({"Hover"}), nullptr);
  holder->add_child(std::move(alone));
  // Made after the join, below layers that learnt the old root.
  DLayer* later = dMake<DLayer>(deep, "Later");
  EXPECT_EQ(fill->state({"Hover"}), nullptr);
  root.resolve_bases();
  EXPECT_EQ(deep->base(), base_fill->parent());
  EXPECT_EQ(fill->state({"Hover"}), hover);
  base_fill->destroy_child(hover);
  EXPECT_EQ(fill->state({"Hover"}), nullptr);
  EXPECT_EQ(later->path(), "Outer/Holder/Alone/A/B/Later");
  // Changes deep in the joined part raise the counter of the whole tree.
  const std::uint32_t* generation = tree_generation(root);
  const std::uint32_t before = *generation;
  dMake<DAttribute>(later, "Made");
  EXPECT_NE(*generation, before);
  EXPECT_EQ(&tree_states(*fill), &tree_states(root));
}

TEST_F(LoadLimits, subtrees_are_measured_without_recursion) {
  DLayer root;
  DLayer* a = dMake<DLayer>(&root, "A");
  DLayer* b = dMake<DLayer>(a, "B");
  dMake<DLayer>(b, "C");
  DSubtreeSize size = measure_subtree(&root);
  EXPECT_EQ(size.objects, 3u);
  EXPECT_EQ(size.height, 3u);
  EXPECT_EQ(layer_depth(b), 2u);
}

std::string alternatives(const std::string& prefix, int count) {
  std::string list = "(";
  for (int i = 0; i < count; ++i) list += (i > 0 ? ", " : "") + prefix + std::to_string(i);
  return list + ")";
}

const std::string* text_of(const DAttribute* attribute) {
  return attribute != nullptr ? std::get_if<std::string>(&attribute->value()) : nullptr;
}

TEST_F(LoadLimits, long_texts_are_held_once_and_copies_of_texts_beyond_the_source_are_refused) {
  struct Case {
    std::string name;
    std::string source;
    // The attributes that must hold `text`, one record for all of them.
    std::vector<std::string> sharing;
    std::string text;
    // The first log line starts with this; none when empty.
    std::string refusal;
  };
  const std::string long_text(64 * 1024, 'x');
  const std::string short_text(200, 'y');
  std::vector<std::string> expanded;
  for (int a = 0; a < 64; ++a)
    expanded.push_back("a" + std::to_string(a) + " b" + std::to_string(a));
  std::vector<std::string> inherited;
  for (int d = 0; d < 200; ++d) inherited.push_back("D" + std::to_string(d) + "/s");
  const Case cases[] = {
      {"expansion",
       alternatives("a", 64) + " " + alternatives("b", 64) + ": \"" + long_text + "\"\n", expanded,
       long_text, ""},
      {"state-set",
       "@Hover:\n    " + alternatives("s", 64) + ": \"" + long_text + "\"\n",
       {},
       long_text,
       ""},
      {"bases", "B:\n    s: \"" + long_text + "\"\n" + alternatives("D", 200) + " << B\n",
       inherited, long_text, ""},
      {"short texts",
       alternatives("a", 100) + " " + alternatives("b", 100) + " " + alternatives("c", 34) +
           ": \"" + short_text + "\"\n",
       {},
       "",
       "engine: DIR/short texts.drl: Failed to load file because its declarations expand to "
       "more than 67108864 bytes of text, out of proportion to the "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture.lines().clear();
    support::TempDir case_dir;
    case_dir.write(c.name + ".drl", c.source);
    DEngine engine;
    engine.load_files(case_dir.string(), "");
    const DValue* first = nullptr;
    for (const auto& path : c.sharing) {
      const auto slash = path.rfind('/');
      DLayer* layer =
          slash == std::string::npos ? engine.root() : engine.find_layer(path.substr(0, slash));
      ASSERT_NE(layer, nullptr) << path;
      const DAttribute* attribute = layer->find_attribute(path.substr(slash + 1));
      ASSERT_NE(text_of(attribute), nullptr) << path;
      EXPECT_EQ(*text_of(attribute), c.text);
      if (first == nullptr) first = &attribute->value();
      EXPECT_EQ(&attribute->value(), first) << path;
    }
    if (c.name == "state-set") {
      for (int s = 0; s < 64; ++s) {
        const DAttribute* attribute = engine.root()->find_attribute("s" + std::to_string(s));
        ASSERT_NE(attribute, nullptr);
        const auto states = attribute->states(false);
        ASSERT_EQ(states.count("Hover"), 1u);
        ASSERT_NE(text_of(states.at("Hover")), nullptr);
        if (first == nullptr) first = &states.at("Hover")->value();
        EXPECT_EQ(&states.at("Hover")->value(), first);
      }
    }
    if (c.refusal.empty()) {
      EXPECT_TRUE(capture.lines().empty()) << capture.lines()[0];
      continue;
    }
    ASSERT_FALSE(capture.lines().empty());
    std::string expected = c.refusal;
    const auto dir_at = expected.find("DIR");
    if (dir_at != std::string::npos) expected.replace(dir_at, 3, case_dir.string());
    EXPECT_EQ(capture.lines()[0].rfind(expected, 0), 0u) << capture.lines()[0];
  }
}

// A link path is the object's own text however long: copied by hundreds of
// bases, a long one outgrows the allowance.
TEST_F(LoadLimits, bases_whose_link_paths_outgrow_the_source_are_refused_one_by_one) {
  const std::string long_name(100 * 1024, 'n');
  dir.write("paths.drl", "B:\n    s: " + long_name + "\n" + alternatives("D", 700) + " << B\n");
  DEngine engine;
  engine.load_files(dir.string(), "");
  std::size_t refused = 0;
  for (int d = 0; d < 700; ++d) {
    DLayer* layer = engine.find_layer("D" + std::to_string(d));
    ASSERT_NE(layer, nullptr);
    if (layer->find_attribute("s") != nullptr) {
      EXPECT_EQ(refused, 0u) << "a base applied after one was refused";
      continue;
    }
    EXPECT_TRUE(layer->children().empty());
    EXPECT_EQ(layer->base(), nullptr);
    ASSERT_LT(refused, capture.lines().size());
    EXPECT_EQ(capture.lines()[refused],
              "engine: D" + std::to_string(d) +
                  ": Failed to apply base `B` because it would copy more than " +
                  capture.lines()[refused].substr(capture.lines()[refused].find(" than ") + 6,
                                                  capture.lines()[refused].find(" bytes of text") -
                                                      capture.lines()[refused].find(" than ") - 6) +
                  " bytes of text, out of proportion to the " +
                  std::to_string(fs::file_size(dir.path() / "paths.drl")) +
                  " bytes of source read; the layer inherits nothing.");
    ++refused;
  }
  // 64 MiB hold some 650 copies of the path.
  EXPECT_GT(refused, 20u);
  EXPECT_LT(refused, 100u);
  EXPECT_EQ(capture.lines().size(), refused);
}

}  // namespace
}  // namespace Drelm
