#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "support/fixture_app.h"
#include "support/patches.h"
#include "theme_language/engine.h"

namespace {

using Ombrix::ListEntry;
using Ombrix::NodeType;
using Ombrix::OApp;
using Ombrix::Patch;
using Ombrix::PatchKind;
using Ombrix::RenderNode;
using Lines = std::vector<std::string>;

using support::describe;
using support::load_app;

Lines render(OApp& app) { return describe(app.render_patches()); }

void set_rows(OApp& app, const std::vector<std::pair<std::string, std::string>>& rows) {
  auto& list = app.lists["rows"];
  list.clear();
  for (const auto& [id, label] : rows) list.push_back(ListEntry{id, {{"label", label}}});
}

TEST(Diff, first_render_inserts_the_whole_tree_and_an_unchanged_one_gives_nothing) {
  auto app = load_app("Page");
  app->pending_editor_values.emplace_back("Page/Note", "draft");
  const std::vector<Patch> first = app->render_patches();
  EXPECT_EQ(describe(first), (Lines{"insert Page at 0", "editorvalue Page/Note = draft"}));
  EXPECT_EQ(first[0].node.children.size(), 7u);
  EXPECT_EQ(first[0].node.children[0].path, "Page/Header");
  ASSERT_NE(app->previous_tree, nullptr);
  EXPECT_EQ(app->previous_tree->children.size(), 7u);
  EXPECT_TRUE(app->pending_editor_values.empty());

  EXPECT_EQ(render(*app), Lines{});
}

TEST(Diff, a_changed_text_and_a_new_child_give_the_update_then_the_insert) {
  auto app = load_app("Page");
  app->hidden_paths.insert("Page/Body/Extra");
  app->render_patches();

  app->texts["Page/Body"] = "changed";
  app->hidden_paths.clear();
  const std::vector<Patch> patches = app->render_patches();
  EXPECT_EQ(describe(patches),
            (Lines{"update Page/Body", "insert Page/Body/Extra in Page/Body at 1"}));
  // The update carries the node alone; its children have patches of their own.
  EXPECT_EQ(patches[0].node.text, "changed");
  EXPECT_TRUE(patches[0].node.children.empty());
  EXPECT_EQ(patches[0].parentPath, "");
  EXPECT_EQ(patches[1].node.text, "extra");
  EXPECT_EQ(app->previous_tree->children[1].children.size(), 2u);
}

TEST(Diff, renamed_rows_are_removed_and_inserted_and_reordered_ones_give_nothing) {
  auto app = load_app("Page");
  set_rows(*app, {{"a", "A"}, {"b", "B"}});
  app->render_patches();

  set_rows(*app, {{"a", "A"}, {"c", "B"}});
  EXPECT_EQ(render(*app), (Lines{"remove Page/Rows/b", "insert Page/Rows/c in Page/Rows at 1"}));

  set_rows(*app, {{"c", "B"}, {"a", "A"}});
  EXPECT_EQ(render(*app), Lines{});

  // The index counts matched children too.
  set_rows(*app, {{"c", "B"}, {"w", "W"}, {"a", "A"}});
  EXPECT_EQ(render(*app), Lines{"insert Page/Rows/w in Page/Rows at 1"});

  // Old x, y, z and new z, x: y goes, then z's and x's own patches in the new order.
  set_rows(*app, {{"x", "1"}, {"y", "2"}, {"z", "3"}});
  app->render_patches();
  set_rows(*app, {{"z", "30"}, {"x", "10"}});
  EXPECT_EQ(render(*app),
            (Lines{"remove Page/Rows/y", "update Page/Rows/z", "update Page/Rows/x"}));
}

TEST(Diff, duplicate_names_match_the_last_old_child) {
  auto app = load_app("Page");
  set_rows(*app, {{"x", "one"}, {"x", "two"}});
  app->render_patches();

  set_rows(*app, {{"x", "two"}});
  EXPECT_EQ(render(*app), Lines{});

  set_rows(*app, {{"x", "one"}, {"x", "two"}});
  const std::vector<Patch> patches = app->render_patches();
  EXPECT_EQ(describe(patches), Lines{"update Page/Rows/x"});
  EXPECT_EQ(patches[0].node.text, "one");

  set_rows(*app, {});
  EXPECT_EQ(render(*app), (Lines{"remove Page/Rows/x", "remove Page/Rows/x"}));
}

TEST(Diff, a_changed_kind_replaces_the_node_and_nothing_below_it) {
  auto app = load_app("Page");
  app->render_patches();

  // The roots match whatever their names; "Swap" turns from a text into a button.
  app->root_name = "Other Page";
  const std::vector<Patch> patches = app->render_patches();
  EXPECT_EQ(
      describe(patches),
      (Lines{"remove Page/Header", "remove Page/Body", "remove Page/Rows", "remove Page/Palette",
             "remove Page/Note", "remove Page/Agree", "replace Other Page/Swap in Other Page"}));
  const RenderNode& replaced = patches.back().node;
  EXPECT_EQ(replaced.type, NodeType::button);
  ASSERT_EQ(replaced.children.size(), 1u);
  EXPECT_EQ(replaced.children[0].path, "Other Page/Swap/Inner");
  EXPECT_EQ(patches.back().index, 0);
}

TEST(Diff, queued_editor_texts_come_last_in_queue_order_and_drain_the_queue) {
  auto app = load_app("Page");
  app->render_patches();

  app->pending_editor_values.emplace_back("Page/Note", "first");
  app->pending_editor_values.emplace_back("Page/Note", "second");
  app->texts["Page/Header"] = "Hi";
  EXPECT_EQ(render(*app), (Lines{"update Page/Header", "editorvalue Page/Note = first",
                                 "editorvalue Page/Note = second"}));
  EXPECT_TRUE(app->pending_editor_values.empty());
  EXPECT_EQ(render(*app), Lines{});
}

TEST(Diff, events_show_up_in_the_next_patch_list) {
  auto app = load_app("Page");
  const std::vector<Patch> first = app->render_patches();
  EXPECT_EQ(first[0].node.children[0].style.fill, "#101010");

  // A theme button switches the theme; the header's fill follows it through its link.
  app->dispatch("Page/Palette/Dawn (South)", "click");
  const std::vector<Patch> patches = app->render_patches();
  EXPECT_EQ(describe(patches), (Lines{"update Page/Header", "update Page/Palette/Dawn (South)",
                                      "update Page/Palette/Dusk (North)"}));
  EXPECT_EQ(patches[0].node.style.fill, "#a0a0a0");
  EXPECT_EQ(patches[1].node.style.borderThickness, 3.0);

  app->dispatch("Page/Agree", "click");
  const std::vector<Patch> checked = app->render_patches();
  EXPECT_EQ(describe(checked), Lines{"update Page/Agree"});
  EXPECT_EQ(checked[0].node.style.fill, "#00ff00");

  app->dispatch("Page/Note", "input:typed");
  EXPECT_EQ(render(*app), Lines{});

  // A height that is not a number is reported once, not at every render.
  app->heights["Page/Header"] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(render(*app), Lines{"update Page/Header"});
  EXPECT_EQ(render(*app), Lines{});
}

TEST(Diff, only_the_shown_style_fields_are_compared) {
  RenderNode old_node;
  old_node.path = "A";
  const auto diff = [&old_node](const RenderNode& new_node) {
    std::vector<Patch> out;
    Ombrix::diff_matched(old_node, new_node, out);
    return describe(out);
  };
  RenderNode changed = old_node;
  changed.name = "renamed";
  changed.style.fontFamily = "Serif";
  changed.style.shrink = 1;
  changed.style.visible = false;
  changed.style.text = "style text";
  changed.style.binds = "Field:x";
  changed.style.heightViewport = 0.5;
  EXPECT_EQ(diff(changed), Lines{});

  for (int field = 0; field < 4; ++field) {
    SCOPED_TRACE(field);
    changed = old_node;
    if (field == 0) changed.style.readOnly = true;
    if (field == 1) changed.style.wrap = false;
    if (field == 2) changed.comboOptions.push_back({"a", "A"});
    if (field == 3) changed.comboSelected = "a";
    EXPECT_EQ(diff(changed), Lines{"update A"});
  }

  // A number that kept its value is no change, NaN included; -0.0 and 0.0
  // lay out alike. A NaN that comes or goes is a change.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Numbers {
    double before;
    double after;
    Lines patches;
  };
  for (const Numbers& row : {Numbers{nan, nan, {}}, Numbers{-nan, nan, {}}, Numbers{0.0, -0.0, {}},
                             Numbers{nan, 1.0, {"update A"}}}) {
    SCOPED_TRACE(std::to_string(row.before) + " to " + std::to_string(row.after));
    old_node.style.width = row.before;
    changed = old_node;
    changed.style.width = row.after;
    EXPECT_EQ(diff(changed), row.patches);
  }
}

TEST(Diff, each_compared_style_field_changed_alone_gives_one_update) {
  using Style = Ombrix::ResolvedStyle;
  // Listed here by hand rather than taken from the table the diff walks, so that a
  // field missing from that table shows up.
  const std::vector<std::pair<const char*, std::string Style::*>> texts = {
      {"fill", &Style::fill},
      {"borderFill", &Style::borderFill},
      {"textColor", &Style::textColor},
      {"codeBg", &Style::codeBg},
      {"direction", &Style::direction},
      {"crossAlign", &Style::crossAlign},
      {"justify", &Style::justify},
      {"scroll", &Style::scroll},
      {"placeholder", &Style::placeholder},
      {"iconSource", &Style::iconSource},
      {"mediaSource", &Style::mediaSource},
      {"fit", &Style::fit},
      {"qrData", &Style::qrData},
      {"intent", &Style::intent},
      {"overlay", &Style::overlay},
      {"href", &Style::href},
      {"tag", &Style::tag},
      {"anchor", &Style::anchor}};
  const std::vector<std::pair<const char*, bool Style::*>> flags = {
      {"fillIsGradient", &Style::fillIsGradient},
      {"borderIsGradient", &Style::borderIsGradient},
      {"collapsed", &Style::collapsed},
      {"secret", &Style::secret},
      {"multiline", &Style::multiline},
      {"readOnly", &Style::readOnly},
      {"wrap", &Style::wrap},
      {"autoplay", &Style::autoplay},
      {"loop", &Style::loop},
      {"muted", &Style::muted},
      {"controls", &Style::controls}};
  const std::vector<std::pair<const char*, double Style::*>> numbers = {
      {"borderThickness", &Style::borderThickness},
      {"radiusTL", &Style::radiusTL},
      {"radiusTR", &Style::radiusTR},
      {"radiusBL", &Style::radiusBL},
      {"radiusBR", &Style::radiusBR},
      {"marginL", &Style::marginL},
      {"marginT", &Style::marginT},
      {"marginR", &Style::marginR},
      {"marginB", &Style::marginB},
      {"paddingL", &Style::paddingL},
      {"paddingT", &Style::paddingT},
      {"paddingR", &Style::paddingR},
      {"paddingB", &Style::paddingB},
      {"fontSize", &Style::fontSize},
      {"fontWeight", &Style::fontWeight},
      {"spacing", &Style::spacing},
      {"grow", &Style::grow},
      {"width", &Style::width},
      {"height", &Style::height},
      {"maxWidth", &Style::maxWidth},
      {"aspectRatio", &Style::aspectRatio},
      {"translateY", &Style::translateY},
      {"translateX", &Style::translateX},
      {"rotation", &Style::rotation},
      {"opacity", &Style::opacity}};

  RenderNode old_node;
  old_node.path = "A";
  const auto check = [&old_node](const auto& fields, const auto& change) {
    for (const auto& [name, member] : fields) {
      SCOPED_TRACE(name);
      RenderNode changed = old_node;
      change(changed.style.*member);
      std::vector<Patch> out;
      Ombrix::diff_matched(old_node, changed, out);
      ASSERT_EQ(describe(out), Lines{"update A"});
      EXPECT_EQ(out[0].node.style.*member, changed.style.*member);
    }
  };
  check(texts, [](std::string& text) { text = "x"; });
  check(flags, [](bool& flag) { flag = !flag; });
  check(numbers, [](double& number) { number += 7; });
}

}  // namespace

namespace {

// The diff as the plain per-level ordered map and set describe it, for comparison.
void reference_diff(const RenderNode& old_node, const RenderNode& new_node,
                    std::vector<Patch>& out) {
  if (old_node.type != new_node.type) {
    Patch patch;
    patch.kind = PatchKind::replace;
    patch.path = new_node.path;
    const std::size_t slash = new_node.path.rfind('/');
    if (slash != std::string::npos) patch.parentPath = new_node.path.substr(0, slash);
    patch.node = new_node;
    out.push_back(patch);
    return;
  }
  if (old_node.text != new_node.text) {
    Patch patch;
    patch.kind = PatchKind::update;
    patch.path = new_node.path;
    patch.node = new_node;
    patch.node.children.clear();
    out.push_back(patch);
  }
  std::map<std::string, const RenderNode*> old_by_name;
  for (const RenderNode& child : old_node.children) old_by_name[child.name] = &child;
  std::set<std::string> new_names;
  for (const RenderNode& child : new_node.children) new_names.insert(child.name);
  for (const RenderNode& child : old_node.children) {
    if (new_names.contains(child.name)) continue;
    Patch patch;
    patch.kind = PatchKind::remove;
    patch.path = child.path;
    out.push_back(patch);
  }
  for (std::size_t i = 0; i < new_node.children.size(); ++i) {
    const RenderNode& child = new_node.children[i];
    if (auto it = old_by_name.find(child.name); it != old_by_name.end()) {
      reference_diff(*it->second, child, out);
      continue;
    }
    Patch patch;
    patch.kind = PatchKind::insert;
    patch.path = child.path;
    patch.parentPath = new_node.path;
    patch.index = static_cast<std::int32_t>(i);
    patch.node = child;
    out.push_back(patch);
  }
}

// Every addressing field and what the carried node holds.
Lines describe_fully(const std::vector<Patch>& patches) {
  Lines lines;
  for (const Patch& p : patches) {
    lines.push_back(std::string(Ombrix::to_string(p.kind)) + "|" + p.path + "|" + p.parentPath +
                    "|" + std::to_string(p.index) + "|" + p.node.name + "|" + p.node.text + "|" +
                    std::to_string(p.node.children.size()));
  }
  return lines;
}

struct TreeMaker {
  std::mt19937 random{20240611};

  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  }

  // Few names, so that siblings often share one; now and then a wide level near the
  // leaves, so that the tables of deeper levels outgrow those of the levels above.
  void grow(RenderNode& node, int depth) {
    if (depth == 0) return;
    const std::size_t count = depth <= 2 && below(6) == 0 ? 20 + below(20) : below(5);
    for (std::size_t i = 0; i < count; ++i) {
      RenderNode& child = node.children.emplace_back();
      child.name = std::string(1, static_cast<char>('a' + below(6)));
      child.path = node.path + "/" + child.name;
      child.text = std::to_string(below(3));
      child.type = below(10) == 0 ? NodeType::text : NodeType::box;
      grow(child, depth - 1);
    }
  }

  // Removes, renames, retexts, retypes, adds and reorders here and there.
  void mutate(RenderNode& node, int depth) {
    for (RenderNode& child : node.children) {
      if (below(6) == 0) child.text += "*";
      if (below(25) == 0) child.type = NodeType::button;
      mutate(child, depth - 1);
    }
    if (!node.children.empty() && below(3) == 0) {
      node.children.erase(node.children.begin() +
                          static_cast<std::ptrdiff_t>(below(node.children.size())));
    }
    if (!node.children.empty() && below(4) == 0) {
      RenderNode& renamed = node.children[below(node.children.size())];
      renamed.name = std::string(1, static_cast<char>('a' + below(8)));
    }
    if (below(3) == 0) std::shuffle(node.children.begin(), node.children.end(), random);
    if (below(4) == 0) grow(node, depth > 0 ? 1 : 0);
  }
};

TEST(Diff, random_trees_diff_as_per_level_maps_and_sets_would) {
  TreeMaker maker;
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(round);
    RenderNode old_tree;
    old_tree.name = old_tree.path = "R";
    maker.grow(old_tree, 4);
    RenderNode new_tree = old_tree;
    maker.mutate(new_tree, 4);

    std::vector<Patch> expected;
    reference_diff(old_tree, new_tree, expected);
    std::vector<Patch> actual;
    Ombrix::diff_matched(old_tree, new_tree, actual);
    ASSERT_EQ(describe_fully(actual), describe_fully(expected));
  }
}

}  // namespace
