#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "fuzz/calls.h"
#include "fuzz/harness.h"
#include "support/files.h"
#include "support/fuzz_inputs.h"
#include "support/log_capture.h"

namespace {

namespace fs = std::filesystem;
using Ombrix::RenderNode;

const std::string kModel = std::string(OMBRIX_FIXTURES_DIR) + "/app";

using support::for_each_fuzz_input;
using support::kFuzzRegressions;
using support::read_bytes;

// The replayed inputs' diagnostics are kept off the output.
class FuzzRegression : public ::testing::Test {
 protected:
  support::LogCapture quiet;
  support::TempDir scratch;
  const fs::path work = scratch.path();
};

TEST_F(FuzzRegression, saved_inputs_replay_through_every_target) {
  for_each_fuzz_input(
      "parse", [&](const fs::path& file) { fuzz::run_load(read_bytes(file), kModel, work); });
  for_each_fuzz_input(
      "load", [&](const fs::path& file) { fuzz::run_load(read_bytes(file), kModel, work); });
  for_each_fuzz_input("theme",
                      [&](const fs::path& file) { fuzz::run_theme(read_bytes(file), kModel); });
  for_each_fuzz_input("dispatch", [&](const fs::path& file) {
    // Whatever the events carried, the written patches stay strict UTF-8.
    const std::string patches = fuzz::run_dispatch(read_bytes(file), kModel);
    EXPECT_TRUE(nlohmann::json::accept(patches));
  });
  for_each_fuzz_input("calls",
                      [&](const fs::path& file) { fuzz::run_calls(read_bytes(file), kModel); });
}

TEST_F(FuzzRegression, invalid_utf8_reaches_neither_the_themes_nor_the_json) {
  auto app = fuzz::fixture_model(kModel, "Page");
  EXPECT_EQ(app->add_theme_json(read_bytes(kFuzzRegressions / "theme/invalid_utf8.json")), "");
  app->dispatch("Page/Note", "input:\xff\xc3(");
  app->pending_editor_values.emplace_back("Page/Note", "\xff");
  const nlohmann::json patches = nlohmann::json::parse(app->render_patches_json());
  ASSERT_FALSE(patches.empty());
  EXPECT_EQ(patches.back()["op"], "editorvalue");
  EXPECT_EQ(patches.back()["text"], "\xef\xbf\xbd");
}

std::size_t count_nodes(const RenderNode& root) {
  std::size_t count = 0;
  std::vector<const RenderNode*> open = {&root};
  while (!open.empty()) {
    const RenderNode* node = open.back();
    open.pop_back();
    ++count;
    for (const RenderNode& child : node->children) open.push_back(&child);
  }
  return count;
}

// Every layer here inherits two copies of the next, so a 483-byte file asks
// for a million layers and render nodes; the copies stop at a budget instead.
TEST_F(FuzzRegression, bases_that_double_at_every_level_stay_bounded) {
  fs::copy_file(kFuzzRegressions / "load/exponential_bases.drl", work / "input.drl");
  Ombrix::OApp app;
  app.root_name = "App";
  app.init(kModel + "/themes", kModel + "/styles", "", {work.string()});
  EXPECT_LT(count_nodes(app.build_render_tree()), std::size_t(100000));
}

}  // namespace
