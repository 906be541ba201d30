#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "support/files.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Ombrix::OApp;
using Ombrix::PatchKind;
using Ombrix::RenderNode;

const std::string kFixtures = std::string(OMBRIX_FIXTURES_DIR) + "/app";
constexpr int kDepth = 1000;

// "App" holds N1, N1 holds N2, ... N1000 holds the text "Leaf": one space of
// indentation per level. "Copy" inherits the whole chain from "App".
std::string deep_source() {
  std::string source = "App << Ombrix/Box:\n";
  for (int level = 1; level <= kDepth; ++level) {
    source += std::string(std::size_t(level), ' ') + "N" + std::to_string(level) + ":\n";
  }
  const std::string indent(std::size_t(kDepth) + 1, ' ');
  source += indent + "Leaf << Ombrix/Text:\n";
  source += indent + " Text: \"leaf\"\n";
  source += indent + " Fill: \"#000000\" @Selected: \"#ffffff\"\n";
  source += "Copy << App\n";
  return source;
}

std::string deep_path(const std::string& root) {
  std::string path = root;
  for (int level = 1; level <= kDepth; ++level) path += "/N" + std::to_string(level);
  return path + "/Leaf";
}

// Walks the single chain of first children; returns the deepest node.
const RenderNode& deepest(const RenderNode& root, int& levels) {
  const RenderNode* node = &root;
  levels = 1;
  while (!node->children.empty()) {
    node = &node->children.front();
    ++levels;
  }
  return *node;
}

const Json& deepest(const Json& root, int& levels) {
  const Json* node = &root;
  levels = 1;
  while (!(*node)["children"].empty()) {
    node = &(*node)["children"][0];
    ++levels;
  }
  return *node;
}

class Depth : public ::testing::Test {
 protected:
  void SetUp() override { dir.write("deep.drl", deep_source()); }
  support::TempDir dir;
};

TEST_F(Depth, a_thousand_nested_layers_load_render_diff_write_json_and_are_destroyed) {
  auto app = std::make_unique<OApp>();
  app->root_name = "App";
  ASSERT_TRUE(app->init(kFixtures + "/themes", kFixtures + "/styles", "", {dir.string()}));
  EXPECT_TRUE(app->engine().unresolved_links().empty());
  ASSERT_NE(app->engine().find_layer(deep_path("Copy")), nullptr);

  int levels = 0;
  {
    const RenderNode tree = app->build_render_tree();
    const RenderNode& leaf = deepest(tree, levels);
    EXPECT_EQ(levels, kDepth + 2);
    EXPECT_EQ(leaf.path, deep_path("App"));
    EXPECT_EQ(leaf.text, "leaf");
  }
  // The first render sends the whole tree in one patch.
  const Json first = Json::parse(app->render_patches_json());
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(deepest(first[0]["node"], levels)["path"], deep_path("App"));
  EXPECT_EQ(levels, kDepth + 2);

  // A change at the bottom is one update, found through every level.
  app->texts[deep_path("App")] = "changed";
  const std::vector<Ombrix::Patch> patches = app->render_patches();
  ASSERT_EQ(patches.size(), 1u);
  EXPECT_EQ(patches[0].kind, PatchKind::update);
  EXPECT_EQ(patches[0].path, deep_path("App"));
  EXPECT_EQ(patches[0].node.text, "changed");

  const Json tree = Json::parse(app->render_tree_json());
  EXPECT_EQ(deepest(tree, levels)["text"], "changed");
  EXPECT_EQ(levels, kDepth + 2);

  app->toggle_state(deep_path("App"), "Selected");
  const Json update = Json::parse(app->render_patches_json());
  ASSERT_EQ(update.size(), 1u);
  EXPECT_EQ(update[0]["path"], deep_path("App"));

  // The inherited copy matches level by level; only the leaf, whose text and
  // state were set on the other path, differs.
  app->root_name = "Copy";
  const Json moved = Json::parse(app->render_patches_json());
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved.back()["op"], "update");
  EXPECT_EQ(moved.back()["path"], deep_path("Copy"));
  EXPECT_EQ(moved.back()["node"]["text"], "leaf");

  app.reset();
}

// Sources cannot nest layers that deep, but the library's interface can: the
// render ends in leaves at its bound instead of overflowing the stack.
TEST_F(Depth, a_tree_made_deeper_than_any_source_renders_down_to_a_bound) {
  dir.write("deep.drl", "App << Ombrix/Box\n");
  auto app = std::make_unique<OApp>();
  app->root_name = "App";
  ASSERT_TRUE(app->init(kFixtures + "/themes", kFixtures + "/styles", "", {dir.string()}));
  Drelm::DLayer* layer = app->engine().find_layer("App");
  ASSERT_NE(layer, nullptr);
  for (int level = 0; level < 3000; ++level) layer = Drelm::dMake<Drelm::DLayer>(layer, "Deep");
  int levels = 0;
  {
    const RenderNode tree = app->build_render_tree();
    deepest(tree, levels);
    EXPECT_EQ(levels, 1100);
  }
  const Json first = Json::parse(app->render_patches_json());
  ASSERT_EQ(first.size(), 1u);
  app.reset();
}

// Bases nest a layer's copies without any block nesting, so a chain of short
// top-level layers would build a tree deeper than the parser ever allows.
TEST_F(Depth, a_long_chain_of_bases_ends_in_a_diagnostic_not_a_stack_overflow) {
  constexpr int kChain = 5000;
  std::ofstream out(dir.path() / "deep.drl", std::ios::trunc);
  out << "App:\n Child << L1\n";
  for (int level = 1; level < kChain; ++level) {
    out << "L" << level << ":\n Child << L" << level + 1 << "\n";
  }
  out << "L" << kChain << " << Ombrix/Text\n";
  out.close();
  auto app = std::make_unique<OApp>();
  app->root_name = "App";
  app->init(kFixtures + "/themes", kFixtures + "/styles", "", {dir.string()});
  (void)app->render_patches_json();
  app->texts["App/Child"] = "changed";
  (void)app->render_patches_json();
  app.reset();
}

}  // namespace
