#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "support/fixture_app.h"
#include "theme_language/engine.h"

namespace {

using Ombrix::ListEntry;
using Ombrix::NodeType;
using Ombrix::OApp;
using Ombrix::RenderNode;

using support::at;
using support::child;
using support::child_names;
using support::load_app;

TEST(Binds, split_binds_trims_tokens_and_drops_empty_ones) {
  using Ombrix::split_binds;
  using Tokens = std::vector<std::string>;
  EXPECT_EQ(split_binds("  Field:title ; ;Grow:g;"), (Tokens{"Field:title", "Grow:g"}));
  EXPECT_EQ(split_binds(""), Tokens{});
  EXPECT_EQ(split_binds(" \t\r\n\v\f "), Tokens{});
  EXPECT_EQ(split_binds(";;a b;\tc\n"), (Tokens{"a b", "c"}));
}

TEST(Binds, data_lists_build_rows_with_first_last_and_separators) {
  auto app = load_app("Binds");
  app->lists["items"] = {ListEntry{"a", {{"title", "A"}}}, ListEntry{"b", {{"title", "B"}}},
                         ListEntry{"c", {{"title", "C"}}}};
  RenderNode tree = app->build_render_tree();
  const RenderNode& items = at(tree, {"Items"});
  ASSERT_EQ(child_names(items), (std::vector<std::string>{"a", "a:sep", "b", "b:sep", "c"}));
  EXPECT_EQ(items.children[0].path, "Binds/Items/a");
  EXPECT_EQ(items.children[1].path, "Binds/Items/a:sep");
  EXPECT_EQ(items.children[4].path, "Binds/Items/c");
  EXPECT_EQ(items.children[0].style.tag, "first");
  EXPECT_EQ(items.children[0].style.anchor, "");
  EXPECT_EQ(items.children[2].style.tag, "");
  EXPECT_EQ(items.children[2].style.anchor, "");
  EXPECT_EQ(items.children[4].style.anchor, "last");
  EXPECT_EQ(at(items, {"b", "Title"}).text, "B");
  EXPECT_EQ(at(items, {"b", "Title"}).path, "Binds/Items/b/Title");
  // The name after "List:" is taken whole: a missing list and a leading blank find no rows.
  EXPECT_TRUE(at(tree, {"Empty"}).children.empty());
  EXPECT_TRUE(at(tree, {"Blank"}).children.empty());

  app->lists["items"].resize(1);
  app->states.insert("NoSeparators");
  tree = app->build_render_tree();
  ASSERT_EQ(child_names(at(tree, {"Items"})), std::vector<std::string>{"a"});
  EXPECT_EQ(at(tree, {"Items", "a"}).style.tag, "first");
  EXPECT_EQ(at(tree, {"Items", "a"}).style.anchor, "last");

  // Invisible separators are left out, the rows stay.
  app->lists["items"].push_back(ListEntry{"z", {}});
  tree = app->build_render_tree();
  EXPECT_EQ(child_names(at(tree, {"Items"})), (std::vector<std::string>{"a", "z"}));

  // Rows are addressed by their row path in the per-path stores.
  app->states.clear();
  app->texts["Binds/Items/z/Title"] = "from the store";
  app->node_states["Binds/Items/a"] = {"Selected"};
  app->hidden_paths.insert("Binds/Items/a:sep");  // not consulted for separators
  tree = app->build_render_tree();
  EXPECT_EQ(child_names(at(tree, {"Items"})), (std::vector<std::string>{"a", "a:sep", "z"}));
  EXPECT_EQ(at(tree, {"Items", "a"}).style.fill, "#111111");
  // A "Field:" bind on a missing field hides the node, whatever the store says.
  EXPECT_EQ(child(at(tree, {"Items", "z"}), "Title"), nullptr);
}

TEST(Binds, row_fields_fill_texts_sources_and_metrics) {
  auto app = load_app("Binds");
  app->lists["items"] = {
      ListEntry{"a",
                {{"title", "Alpha"},
                 {"pic", "a.png"},
                 {"icon", "a.svg"},
                 {"url", "https://a"},
                 {"mw", " 12px"},
                 {"ar", "abc"},
                 {"ind", "0"},
                 {"g", "0"},
                 {"ph", ""}}},
      ListEntry{"b",
                {{"title", ""},
                 {"pic", ""},
                 {"icon", ""},
                 {"url", ""},
                 {"mw", "0"},
                 {"ar", "1.5"},
                 {"ind", "5"},
                 {"g", "-1"},
                 {"ph", "typed"},
                 {"op", "1"}}},
      ListEntry{"c", {{"mw", "1e999"}, {"g", "2.5"}, {"op", "false"}}},
  };
  const RenderNode tree = app->build_render_tree();
  const RenderNode& a = at(tree, {"Items", "a"});
  const RenderNode& b = at(tree, {"Items", "b"});
  const RenderNode& c = at(tree, {"Items", "c"});

  EXPECT_EQ(at(a, {"Title"}).text, "Alpha");
  EXPECT_EQ(at(a, {"Pic"}).style.mediaSource, "a.png");
  EXPECT_EQ(at(a, {"Glyph"}).style.iconSource, "a.svg");
  // An empty field is still a text, but no image and no icon source.
  EXPECT_EQ(at(b, {"Title"}).text, "");
  EXPECT_EQ(child(b, "Pic"), nullptr);
  EXPECT_EQ(at(b, {"Glyph"}).style.iconSource, "default.svg");
  EXPECT_EQ(child(c, "Title"), nullptr);
  EXPECT_EQ(child(c, "Pic"), nullptr);
  EXPECT_EQ(at(c, {"Glyph"}).style.iconSource, "default.svg");

  const auto& ra = at(a, {"Remove"}).style;
  const auto& rb = at(b, {"Remove"}).style;
  const auto& rc = at(c, {"Remove"}).style;
  EXPECT_EQ(std::tie(ra.href, ra.maxWidth, ra.aspectRatio, ra.marginL, ra.grow),
            std::make_tuple(std::string("https://a"), 12.0, 2.0, 3.0, 0.0));
  EXPECT_EQ(std::tie(ra.placeholder, ra.opacity), std::make_tuple(std::string("resolved"), 0.0));
  EXPECT_EQ(std::tie(rb.href, rb.maxWidth, rb.aspectRatio, rb.marginL, rb.grow),
            std::make_tuple(std::string(""), 50.0, 1.5, 5.0, 4.0));
  EXPECT_EQ(std::tie(rb.placeholder, rb.opacity), std::make_tuple(std::string("typed"), 1.0));
  EXPECT_EQ(std::tie(rc.maxWidth, rc.grow, rc.opacity), std::make_tuple(50.0, 2.5, 0.0));
}

TEST(Binds, state_tokens_restyle_a_row_and_its_subtree_when_the_field_is_set) {
  auto app = load_app("Binds");
  const std::vector<std::pair<const char*, bool>> cases = {
      {"1", true}, {"yes", true}, {"0", false}, {"false", false}, {"", false}};
  for (const auto& [value, selected] : cases) {
    app->lists["items"].push_back(ListEntry{value[0] ? value : "empty", {{"flag", value}}});
  }
  app->lists["items"].push_back(ListEntry{"absent", {}});
  const RenderNode tree = app->build_render_tree();
  for (const auto& [value, selected] : cases) {
    SCOPED_TRACE(value);
    const RenderNode& row = at(tree, {"Items", value[0] ? value : "empty"});
    EXPECT_EQ(row.style.fill, selected ? "#111111" : "#000000");
  }
  EXPECT_EQ(at(tree, {"Items", "absent"}).style.fill, "#000000");

  app->lists["items"] = {ListEntry{"x", {{"flag", "1"}, {"title", "t"}}}};
  const RenderNode one = app->build_render_tree();
  EXPECT_EQ(at(one, {"Items", "x", "Title"}).style.textColor, "#bbbbbb");
}

TEST(Binds, outside_rows_field_hides_and_row_tokens_do_nothing) {
  auto app = load_app("Binds");
  const RenderNode tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Loose Text"), nullptr);
  const RenderNode& glyph = at(tree, {"Loose Glyph"});
  EXPECT_EQ(glyph.style.iconSource, "kept.svg");
  EXPECT_EQ(glyph.style.href, "");
  EXPECT_EQ(glyph.style.opacity, 1.0);
}

TEST(Binds, theme_buttons_paint_each_installed_theme_and_mark_the_active_one) {
  auto app = load_app("Binds");
  RenderNode tree = app->build_render_tree();
  const RenderNode& themes = at(tree, {"Themes"});
  ASSERT_EQ(child_names(themes),
            (std::vector<std::string>{"Dawn (South)", "Dusk (North)", "Noon"}));
  EXPECT_EQ(app->theme_buttons, (Ombrix::StringMap{{"Binds/Themes/Dawn (South)", "Dawn (South)"},
                                                   {"Binds/Themes/Dusk (North)", "Dusk (North)"},
                                                   {"Binds/Themes/Noon", "Noon"}}));
  const struct {
    const char* id;
    const char* fill;
    const char* border;
    double thickness;
    const char* foreground;
    const char* name;
    const char* publisher;
  } expected[] = {
      {"Dawn (South)", "#a0a0a0", "#c0c0c0", 1.0, "#0f0f0f", "Dawn", "South"},
      {"Dusk (North)", "#101010", "#f0f0f0", 3.0, "#f0f0f0", "Dusk", "North"},
      {"Noon", "#eeeeee", "#dddddd", 1.0, "#111111", "Noon", ""},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.id);
    const RenderNode& button = at(themes, {e.id});
    EXPECT_EQ(button.type, NodeType::button);
    EXPECT_EQ(button.path, std::string("Binds/Themes/") + e.id);
    EXPECT_EQ(button.style.fill, e.fill);
    EXPECT_EQ(button.style.borderFill, e.border);
    EXPECT_EQ(button.style.borderThickness, e.thickness);
    EXPECT_EQ(button.style.textColor, "");
    EXPECT_EQ(at(button, {"Name"}).text, e.name);
    EXPECT_EQ(at(button, {"Maker"}).text, e.publisher);
    for (const auto& painted : {std::vector<std::string>{"Name"},
                                {"Maker"},
                                {"Art"},
                                std::vector<std::string>{"Frame", "Deep"}}) {
      EXPECT_EQ(at(button, painted).style.textColor, e.foreground);
    }
    EXPECT_EQ(at(button, {"Frame"}).style.textColor, "");
  }
  EXPECT_EQ(at(tree, {"Current Name"}).text, "Dusk");
  EXPECT_EQ(at(tree, {"Current Publisher"}).text, "North");
  // Not exactly "ThemeList": the tokens are binds and the template an ordinary child.
  const RenderNode& not_a_list = at(tree, {"Not A List"});
  EXPECT_EQ(not_a_list.text, "Dusk");
  EXPECT_EQ(child_names(not_a_list), std::vector<std::string>{"Kept"});
  EXPECT_EQ(at(not_a_list, {"Kept"}).text, "");

  app->dispatch("Binds/Themes/Dawn (South)", "click");
  EXPECT_EQ(app->active_theme, "Dawn (South)");
  tree = app->build_render_tree();
  EXPECT_EQ(at(tree, {"Themes", "Dawn (South)"}).style.borderThickness, 3.0);
  EXPECT_EQ(at(tree, {"Themes", "Dawn (South)"}).style.borderFill, "#0f0f0f");
  EXPECT_EQ(at(tree, {"Themes", "Dusk (North)"}).style.borderThickness, 1.0);
  EXPECT_EQ(at(tree, {"Current Name"}).text, "Dawn");
}

TEST(Binds, theme_buttons_made_on_their_own_match_those_of_the_render) {
  auto app = load_app("Binds");
  const RenderNode tree = app->build_render_tree();
  RenderNode list = at(tree, {"Themes"});
  list.children.clear();
  Ombrix::StringMap theme_buttons;
  Ombrix::ListActionMap list_actions;
  const Ombrix::ThemeCtx themes{&app->themes, &app->themes.at(app->active_theme)};
  Ombrix::generate_theme_buttons(
      app->engine().find_layer("Binds/Themes"), "Binds/Themes", list, app->texts,
      app->media_sources, app->hrefs, app->qr_data, app->heights, app->node_states,
      app->hidden_paths, std::vector<std::string>(app->states.begin(), app->states.end()),
      theme_buttons, themes, app->lists, list_actions, app->mobile_size_scale,
      app->mobile_font_scale, app->mobile_spacing_scale);
  EXPECT_EQ(theme_buttons, app->theme_buttons);
  EXPECT_EQ(Ombrix::node_to_json(list).dump(), Ombrix::node_to_json(at(tree, {"Themes"})).dump());
}

TEST(Binds, list_intents_register_actions_in_and_out_of_rows) {
  auto app = load_app("Binds");
  app->lists["items"] = {ListEntry{"a", {}}, ListEntry{"b", {}}};
  app->build_render_tree();
  const auto action = [&app](const std::string& path) {
    const auto it = app->list_actions.find(path);
    if (it == app->list_actions.end()) return std::string("none");
    return it->second.action + "|" + it->second.arg + "|" + it->second.data;
  };
  EXPECT_EQ(action("Binds/Items/a/Remove"), "items|a|remove");
  EXPECT_EQ(action("Binds/Items/b/Move"), "items|b|move:up");
  EXPECT_EQ(action("Binds/Add"), "items||add");
  EXPECT_EQ(action("Binds/Move"), "up||move");
  EXPECT_EQ(action("Binds/No Colon"), "none");
  EXPECT_EQ(action("Binds/Label"), "none");  // not a button
  EXPECT_EQ(app->list_actions.size(), 6u);

  std::vector<std::string> calls;
  app->default_action_handler = [&](const std::string& name, const std::string& arg,
                                    const std::string& data) {
    calls.push_back(name + "|" + arg + "|" + data);
    if (data == "remove") std::erase_if(app->lists[name], [&](auto& e) { return e.id == arg; });
  };
  app->dispatch("Binds/Items/b/Remove", "click");
  EXPECT_EQ(calls, std::vector<std::string>{"items|b|remove"});
  const RenderNode tree = app->build_render_tree();
  EXPECT_EQ(child_names(at(tree, {"Items"})), std::vector<std::string>{"a"});
  EXPECT_EQ(action("Binds/Items/b/Remove"), "none");
}

}  // namespace
