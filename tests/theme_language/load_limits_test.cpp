#include "theme_language/internal/load_limits.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

namespace Drelm {
namespace {

namespace fs = std::filesystem;

std::vector<std::string>& logged() {
  static std::vector<std::string> lines;
  return lines;
}

class LoadLimits : public testing::Test {
 protected:
  void SetUp() override {
    logged().clear();
    set_log_function([](const std::string& message) { logged().push_back(message); });
    std::string pattern = (fs::temp_directory_path() / "drelm_limits_XXXXXX").string();
    dir = mkdtemp(pattern.data());
  }
  void TearDown() override {
    set_log_function(nullptr);
    fs::remove_all(dir);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(fs::path(dir) / name, std::ios::binary) << text;
  }
  std::string dir;
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
  write("huge.drl", "Kept: 1\n" + doubling + "Leaf: 1\n");
  write("small.drl", "(A, B) (C, D):\n    Fill: #fff\n");
  DEngine engine;
  engine.load_files(dir, "");
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_EQ(logged()[0].rfind("engine: " + dir +
                                  "/huge.drl: Failed to load file because its "
                                  "declarations expand to more than ",
                              0),
            0u)
      << logged()[0];
  EXPECT_EQ(engine.root()->find_attribute("Kept"), nullptr);
  ASSERT_NE(engine.find_layer("B D"), nullptr);
  EXPECT_NE(engine.find_layer("B D")->find_attribute("Fill"), nullptr);
}

TEST_F(LoadLimits, bases_that_double_every_level_stop_at_the_copy_budget) {
  std::string text;
  for (int level = 0; level < 24; ++level) {
    const std::string next = "L" + std::to_string(level + 1);
    text += "L" + std::to_string(level) + ":\n    A << " + next + "\n    B << " + next + "\n";
  }
  text += "L24:\n    Leaf: 1\n";
  write("doubling.drl", text);
  DEngine engine;
  engine.load_files(dir, "");
  EXPECT_LT(count_layers(engine.root()), std::size_t(1000000));
  ASSERT_EQ(logged().size(), 1u);
  EXPECT_NE(logged()[0].find(": Failed to apply base `L"), std::string::npos) << logged()[0];
  EXPECT_NE(logged()[0].find("because inheritance would copy more than "), std::string::npos);
  // The refused layer keeps its base for its kind and states.
  DLayer* refused = engine.find_layer(logged()[0].substr(8, logged()[0].find(':', 8) - 8));
  ASSERT_NE(refused, nullptr);
  EXPECT_NE(refused->base(), nullptr);
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
  write("deep.drl", text);
  DEngine engine;
  engine.load_files(dir, "");
  ASSERT_EQ(logged().size(), 1u) << logged()[0];
  EXPECT_NE(logged()[0].find("/Bottom: Failed to apply base `Tall` because the layers would nest "
                             "deeper than 1024 levels."),
            std::string::npos)
      << logged()[0];
  // The shallow copy is made in full.
  std::string path = "Shallow";
  for (int level = 1; level < 100; ++level) path += "/T";
  ASSERT_NE(engine.find_layer(path), nullptr);
  EXPECT_NE(engine.find_layer(path)->find_attribute("Leaf"), nullptr);
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

}  // namespace
}  // namespace Drelm
