#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "support/files.h"
#include "support/fixture_app.h"
#include "support/render_afresh.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace {

using Ombrix::ListEntry;
using Ombrix::NodeType;
using Ombrix::OApp;
using Ombrix::RenderNode;

using support::child;
using support::child_names;
using support::load_app;

TEST(RenderTree, kinds_come_from_the_nearest_named_layer_of_the_base_chain) {
  auto app = load_app("Render");
  const RenderNode tree = app->build_render_tree();
  EXPECT_EQ(tree.type, NodeType::box);
  EXPECT_EQ(tree.name, "Render");
  EXPECT_EQ(tree.path, "Render");
  // Layers derived from "Detail" are never nodes; a child merely named "Detail" is.
  EXPECT_EQ(child_names(tree),
            (std::vector<std::string>{"Title", "Odd", "Text", "Plain", "Detail", "Hidden", "Tall",
                                      "Fixed", "Doc", "Choice", "Panel", "Art", "Picture", "Code",
                                      "Web"}));
  const struct {
    const char* name;
    NodeType type;
  } kinds[] = {
      {"Title", NodeType::text},  // Title << Heading << Text
      {"Odd", NodeType::box},     // Odd << Box << Button: "Box" ends the search
      {"Text", NodeType::text},   // named Text, derived from Button
      {"Plain", NodeType::box},   // no recognised name anywhere
      {"Doc", NodeType::markdown},  {"Choice", NodeType::combobox}, {"Art", NodeType::icon},
      {"Picture", NodeType::image}, {"Code", NodeType::qr},         {"Web", NodeType::link},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.name);
    const RenderNode* node = child(tree, k.name);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type, k.type);
    EXPECT_EQ(node->path, std::string("Render/") + k.name);
  }
  const RenderNode* title = child(tree, "Title");
  EXPECT_EQ(title->text, "Hello");
  EXPECT_EQ(title->style.fontSize, 20);
  const RenderNode* inner = child(*child(tree, "Plain"), "Inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->path, "Render/Plain/Inner");
  EXPECT_EQ(inner->text, "inner");
  EXPECT_EQ(app->checkbox_paths, (Ombrix::StringSet{"Render/Hidden/Child", "Render/Panel/Agree"}));

  // Chains longer than a render walks plainly share what their links answered:
  // T39 << ... << T0 << Title, and P39 << ... << P0 << Plain, declared in turns.
  Drelm::DLayer* render = app->engine().find_layer("Render");
  for (int i = 0; i < 40; ++i) {
    for (const char* chain : {"T", "P"}) {
      auto* link = Drelm::dMake<Drelm::DLayer>(render, chain + std::to_string(i));
      link->set_base_path(i > 0             ? chain + std::to_string(i - 1)
                          : chain[0] == 'T' ? "Title"
                                            : "Plain");
    }
  }
  render->resolve_bases();
  const RenderNode chained = app->build_render_tree();
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(child(chained, "T" + std::to_string(i)), nullptr);
    EXPECT_EQ(child(chained, "T" + std::to_string(i))->type, NodeType::text);
    EXPECT_EQ(child(chained, "P" + std::to_string(i))->type, NodeType::box);
  }
}

TEST(RenderTree, missing_root_yields_a_default_node_and_keeps_the_last_render_maps) {
  auto app = load_app("Render");
  app->build_render_tree();
  const auto checkboxes = app->checkbox_paths;
  const auto actions = app->list_actions.size();
  ASSERT_FALSE(checkboxes.empty());
  ASSERT_NE(actions, 0u);

  app->root_name = "Nowhere";
  const RenderNode tree = app->build_render_tree();
  EXPECT_EQ(tree.type, NodeType::box);
  EXPECT_EQ(tree.path, "");
  EXPECT_TRUE(tree.children.empty());
  EXPECT_EQ(app->checkbox_paths, checkboxes);
  EXPECT_EQ(app->list_actions.size(), actions);
}

TEST(RenderTree, hidden_children_are_not_built_and_invisible_ones_are_built_but_left_out) {
  auto app = load_app("Render");
  RenderNode tree = app->build_render_tree();
  ASSERT_NE(child(tree, "Hidden"), nullptr);
  EXPECT_EQ(child(tree, "Invisible"), nullptr);
  ASSERT_TRUE(app->list_actions.contains("Render/Hidden"));
  // The invisible button's intent still counts: it may become visible by a state.
  ASSERT_TRUE(app->list_actions.contains("Render/Invisible"));
  EXPECT_EQ(app->list_actions["Render/Invisible"].action, "invisible");
  EXPECT_EQ(app->list_actions["Render/Invisible"].data, "go");

  app->hidden_paths.insert("Render/Hidden");
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Hidden"), nullptr);
  EXPECT_FALSE(app->list_actions.contains("Render/Hidden"));
  EXPECT_FALSE(app->checkbox_paths.contains("Render/Hidden/Child"));
  EXPECT_TRUE(app->checkbox_paths.contains("Render/Panel/Agree"));

  // A checkbox of the tree flips its "Checked" state when clicked.
  app->dispatch("Render/Panel/Agree", "click");
  EXPECT_TRUE(app->node_states["Render/Panel/Agree"].contains("Checked"));
  app->dispatch("Render/Hidden/Child", "click");
  EXPECT_FALSE(app->node_states.contains("Render/Hidden/Child"));
}

TEST(RenderTree, node_states_style_the_node_and_its_subtree_but_not_its_siblings) {
  auto app = load_app("Render");
  app->node_states["Render/Plain"] = {"Selected"};
  RenderNode tree = app->build_render_tree();
  EXPECT_EQ(tree.style.fill, "#000000");
  EXPECT_EQ(child(*child(tree, "Plain"), "Inner")->style.textColor, "#404040");
  EXPECT_EQ(child(tree, "Title")->style.textColor, "#101010");

  app->node_states.clear();
  app->node_states["Render"] = {"Selected"};
  tree = app->build_render_tree();
  EXPECT_EQ(tree.style.fill, "#111111");
  EXPECT_EQ(child(tree, "Title")->style.textColor, "#202020");
  EXPECT_EQ(child(*child(tree, "Plain"), "Inner")->style.textColor, "#404040");
}

TEST(RenderTree, stores_override_resolved_values_by_path) {
  auto app = load_app("Render");
  app->texts["Render/Title"] = "From the store";
  app->media_sources["Render/Picture"] = "store.png";
  app->hrefs["Render/Web"] = "https://store";
  app->qr_data["Render/Code"] = "store";
  app->heights["Render/Tall"] = 7;
  app->states.insert("Mobile");
  RenderNode tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Title")->text, "From the store");
  EXPECT_EQ(child(tree, "Title")->style.text, "Hello");
  EXPECT_EQ(child(tree, "Picture")->style.mediaSource, "store.png");
  EXPECT_EQ(child(tree, "Picture")->style.iconSource, "from-style.png");
  EXPECT_EQ(child(tree, "Web")->style.href, "https://store");
  EXPECT_EQ(child(tree, "Code")->style.qrData, "store");
  // A stored height is neither scaled for "Mobile" nor replaced by the viewport rule.
  app->viewport_height = 1000;
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Tall")->style.height, 7);
  EXPECT_EQ(child(tree, "Fixed")->style.height, 250);
  // Icons scale their size by the size factor, other nodes by the spacing factor.
  EXPECT_EQ(child(tree, "Art")->style.width, 36);

  // Markdown gets the active theme's "Secondary" as code background, and only then.
  EXPECT_EQ(child(tree, "Doc")->style.codeBg, "#202020");
  app->active_theme = "Not installed";
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Doc")->style.codeBg, "");
}

TEST(RenderTree, viewport_fractions_fold_into_rounded_heights) {
  auto app = load_app("Render");
  RenderNode tree = app->build_render_tree();
  EXPECT_TRUE(app->uses_viewport_heights);
  EXPECT_EQ(child(tree, "Tall")->style.height, 10);  // no viewport height yet

  app->viewport_height = 801;
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Tall")->style.height, 401);  // 400.5, half away from zero
  EXPECT_EQ(child(tree, "Fixed")->style.height, 200);
  EXPECT_FALSE(app->set_viewport_height(801));
  EXPECT_TRUE(app->set_viewport_height(600));

  app->hidden_paths = {"Render/Tall", "Render/Fixed"};
  app->build_render_tree();
  EXPECT_FALSE(app->uses_viewport_heights);
  EXPECT_FALSE(app->set_viewport_height(700));
}

TEST(RenderTree, combo_data_is_copied_into_combo_boxes_only) {
  auto app = load_app("Render");
  RenderNode tree = app->build_render_tree();
  EXPECT_TRUE(child(tree, "Choice")->comboOptions.empty());
  EXPECT_EQ(child(tree, "Choice")->comboSelected, "");

  const std::vector<Ombrix::ComboOption> options = {{"a", "Alpha"}, {"b", "Beta"}};
  app->combo_options["Render/Choice"] = options;
  app->combo_options["Render/Plain"] = options;
  app->combo_selected["Render/Choice"] = "b";
  app->combo_selected["Render/Plain"] = "a";
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Choice")->comboOptions, options);
  EXPECT_EQ(child(tree, "Choice")->comboSelected, "b");
  EXPECT_TRUE(child(tree, "Plain")->comboOptions.empty());
  EXPECT_EQ(child(tree, "Plain")->comboSelected, "");

  // The stored selection reaches the node through dispatch.
  app->dispatch("Render/Choice", "select:a");
  EXPECT_EQ(child(app->build_render_tree(), "Choice")->comboSelected, "a");
}

}  // namespace

namespace {

TEST(RenderTree, a_subtree_built_on_its_own_equals_its_place_in_the_whole_tree) {
  auto app = load_app("Render");
  const RenderNode tree = app->build_render_tree();
  Drelm::DLayer* layer = app->engine().find_layer("Render");
  ASSERT_NE(layer, nullptr);
  std::vector<std::string> widgets;
  for (Drelm::DLayer* widget : Ombrix::widget_children(layer)) {
    widgets.push_back(widget->object_name());
  }
  // Every node child comes from a widget child, in the same order.
  std::vector<std::string> shown = child_names(tree);
  std::size_t at = 0;
  for (const std::string& name : widgets) {
    if (at < shown.size() && shown[at] == name) ++at;
  }
  EXPECT_EQ(at, shown.size());

  Ombrix::StringMap theme_buttons;
  Ombrix::ListActionMap list_actions;
  const Ombrix::ThemeCtx themes{&app->themes, &app->themes.at(app->active_theme)};
  for (const RenderNode& expected : tree.children) {
    Drelm::DLayer* child_layer = layer->find_layer(expected.name);
    ASSERT_NE(child_layer, nullptr) << expected.name;
    const RenderNode built = Ombrix::build_node(
        child_layer, expected.path, app->texts, app->media_sources, app->hrefs, app->qr_data,
        app->heights, app->node_states, app->hidden_paths,
        std::vector<std::string>(app->states.begin(), app->states.end()), theme_buttons, nullptr,
        themes, app->lists, list_actions, Ombrix::RowCtx{}, app->mobile_size_scale,
        app->mobile_font_scale, app->mobile_spacing_scale);
    RenderNode folded = built;
    bool uses_viewport = false;
    Ombrix::fold_viewport_heights(folded, app->viewport_height, app->heights, uses_viewport);
    Ombrix::apply_combo_data(folded, app->combo_options, app->combo_selected);
    EXPECT_EQ(Ombrix::node_to_json(folded).dump(), Ombrix::node_to_json(expected).dump())
        << expected.path;
  }
}

}  // namespace

namespace {

// The fixture model plus one extra style file, loaded from a directory of its own.
class ExtraStyles {
 public:
  explicit ExtraStyles(const std::string& source) { dir.write("extra.drl", source); }

  std::unique_ptr<OApp> load(const std::string& root) const {
    auto app = std::make_unique<OApp>();
    app->root_name = root;
    EXPECT_TRUE(app->init(support::kFixtureApp + "/themes", support::kFixtureApp + "/styles",
                          "Dusk (North)", {dir.string()}));
    return app;
  }

 private:
  support::TempDir dir;
};

TEST(RenderTree, the_border_is_the_first_border_layer_whether_node_or_detail) {
  const ExtraStyles styles(R"(Framed:
    Card:
        Border << Ombrix/Detail:
            Fill: "#020202"
            Thickness: 2
        Body << Ombrix/Text:
            Text: "body"
    Outlined:
        Border:
            Fill: "#040404"
            Thickness: 4
            Tag: "a node too"
    Rows:
        Bind: "List:rows"
        Row:
            Bind: "State:Picked:on"
            Border << Ombrix/Detail:
                Thickness: 1 @Picked: 6
)");
  auto app = styles.load("Framed");
  app->lists["rows"] = {ListEntry{"a", {{"on", "1"}}}, ListEntry{"b", {{"on", "0"}}}};
  RenderNode tree = app->build_render_tree();
  EXPECT_EQ(child_names(tree), (std::vector<std::string>{"Card", "Outlined", "Rows"}));

  // A detail border styles its owner and is no node of its own.
  const RenderNode& card = *child(tree, "Card");
  EXPECT_EQ(child_names(card), std::vector<std::string>{"Body"});
  EXPECT_EQ(card.style.borderFill, "#020202");
  EXPECT_EQ(card.style.borderThickness, 2);
  // An ordinary border layer is both: the owner's border and a child node.
  const RenderNode& outlined = *child(tree, "Outlined");
  EXPECT_EQ(outlined.style.borderFill, "#040404");
  EXPECT_EQ(outlined.style.borderThickness, 4);
  ASSERT_EQ(child_names(outlined), std::vector<std::string>{"Border"});
  EXPECT_EQ(outlined.children[0].style.tag, "a node too");
  // A row restyled by its "State:" bind reads its border again with the added state.
  const RenderNode& rows = *child(tree, "Rows");
  ASSERT_EQ(child_names(rows), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(rows.children[0].style.borderThickness, 6);
  EXPECT_EQ(rows.children[1].style.borderThickness, 1);

  // "Mobile" grows a border thickness that does not depend on it, wherever the border is.
  app->states.insert("Mobile");
  tree = app->build_render_tree();
  EXPECT_EQ(child(tree, "Card")->style.borderThickness, 2.5);
  EXPECT_EQ(child(tree, "Outlined")->style.borderThickness, 5);
  EXPECT_EQ(child(tree, "Rows")->children[1].style.borderThickness, 1.25);
}

TEST(RenderTree, an_invisible_node_still_registers_what_its_subtree_registers) {
  const ExtraStyles styles(R"(Screen:
    First << Ombrix/Text:
        Text: "first"
    Gone:
        Visible: 0
        Themes:
            Bind: "ThemeList"
            Choice << Ombrix/Button:
                Intent: "list:pick:themes"
        Rows:
            Bind: "List:rows"
            Row << Ombrix/Button:
                Intent: "list:remove"
        Ticked << Ombrix/Check Box
    Middle:
        Inner << Ombrix/Text:
            Text: "inner"
        Dropped << Ombrix/Text:
            Visible: 0
        Last << Ombrix/Text:
            Text: "last"
    After << Ombrix/Text:
        Text: "after"
)");
  auto app = styles.load("Screen");
  app->lists["rows"] = {ListEntry{"a", {}}, ListEntry{"b", {}}};
  const RenderNode tree = app->build_render_tree();
  EXPECT_EQ(child_names(tree), (std::vector<std::string>{"First", "Middle", "After"}));
  EXPECT_EQ(child(tree, "First")->text, "first");
  EXPECT_EQ(child(tree, "After")->text, "after");
  const RenderNode& middle = *child(tree, "Middle");
  EXPECT_EQ(child_names(middle), (std::vector<std::string>{"Inner", "Last"}));
  EXPECT_EQ(middle.children[1].path, "Screen/Middle/Last");
  EXPECT_EQ(middle.children[1].text, "last");

  EXPECT_EQ(app->theme_buttons,
            (Ombrix::StringMap{{"Screen/Gone/Themes/Dawn (South)", "Dawn (South)"},
                               {"Screen/Gone/Themes/Dusk (North)", "Dusk (North)"},
                               {"Screen/Gone/Themes/Noon", "Noon"}}));
  ASSERT_EQ(app->list_actions.size(), 5u);
  EXPECT_EQ(app->list_actions.at("Screen/Gone/Themes/Noon").action, "themes");
  EXPECT_EQ(app->list_actions.at("Screen/Gone/Themes/Noon").data, "pick");
  EXPECT_EQ(app->list_actions.at("Screen/Gone/Rows/b").action, "rows");
  EXPECT_EQ(app->list_actions.at("Screen/Gone/Rows/b").arg, "b");
  // Checkbox paths come from the tree, which holds no invisible node.
  EXPECT_TRUE(app->checkbox_paths.empty());
}

}  // namespace

namespace {

TEST(RenderTree, each_render_shows_what_changed_in_the_layer_tree_since_the_last) {
  const ExtraStyles styles(R"(Kept:
    Accent: #ff0000ff
    Card << Ombrix/Text:
        Tag: "plain" @Hover: "hovered"
        Fill: Theme/Primary
        Text Color: Accent
        Border << Ombrix/Detail:
            Fill: Accent
            Thickness: 2
)");
  auto app = styles.load("Kept");
  Drelm::DLayer* kept = app->engine().find_layer("Kept");
  Drelm::DLayer* layer = app->engine().find_layer("Kept/Card");
  ASSERT_NE(layer, nullptr);
  Drelm::DAttribute* accent = kept->find_attribute("Accent");
  Drelm::DAttribute* tag = layer->find_attribute("Tag");
  Drelm::DAttribute* color = layer->find_attribute("Text Color");
  using Drelm::DValue;
  const auto text = [](const char* value) { return DValue(std::string(value)); };
  // A tree of its own, which the model's tree does not hear of.
  auto elsewhere = std::make_unique<Drelm::DLayer>("Elsewhere");
  Drelm::DAttribute* far = Drelm::dMake<Drelm::DAttribute>(elsewhere.get(), "Far");
  far->set_value(text("far"));

  // Each change of the layer tree or of the model, then what the card shows.
  struct Step {
    std::function<void()> change;
    const char* tag;
    const char* text_color;
  };
  const std::vector<Step> steps = {
      {[] {}, "plain", "#ff0000ff"},
      {[&] { tag->set_value(text("changed")); }, "changed", "#ff0000ff"},
      {[&] { app->node_states["Kept/Card"] = {"Hover"}; }, "hovered", "#ff0000ff"},
      {[&] { tag->states(false).at("Hover")->set_value(text("hovered 2")); }, "hovered 2",
       "#ff0000ff"},
      {[&] { app->node_states.clear(); }, "changed", "#ff0000ff"},
      {[&] { accent->set_value(text("#ff00ff00")); }, "changed", "#ff00ff00"},
      {[&] { app->set_active_theme("Dawn (South)"); }, "changed", "#ff00ff00"},
      {[&] { color->set_value(text("#ff111111")); }, "changed", "#ff111111"},
      {[&] { accent->set_value(text("#ff222222")); }, "changed", "#ff111111"},
      {[&] { tag->create_link(accent); }, "#ff222222", "#ff111111"},
      {[&] { accent->set_value(text("#ff333333")); }, "#ff333333", "#ff111111"},
      {[&] { tag->break_link(false); }, "#ff333333", "#ff111111"},
      {[&] { tag->create_link(far); }, "far", "#ff111111"},
      {[&] { far->set_value(text("far 2")); }, "far 2", "#ff111111"},
      {[&] { elsewhere.reset(); }, "far 2", "#ff111111"},
      {[&] { layer->destroy_child(tag); }, "", "#ff111111"},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    steps[i].change();
    app->render_patches();
    const RenderNode& card = support::at(*app->previous_tree, {"Card"});
    EXPECT_EQ(card.style.tag, steps[i].tag) << "step " << i;
    EXPECT_EQ(card.style.textColor, steps[i].text_color) << "step " << i;
    // Whatever was kept, the whole style is what a fresh look-up finds.
    const std::vector<std::string> states(app->states.begin(), app->states.end());
    const Ombrix::ResolvedStyle fresh = Ombrix::resolve_style(layer, states);
    EXPECT_EQ(card.style.fill, fresh.fill) << "step " << i;
    EXPECT_EQ(card.style.borderFill, fresh.borderFill) << "step " << i;
    EXPECT_EQ(card.style.textColor, fresh.textColor) << "step " << i;
  }
  EXPECT_EQ(support::at(*app->previous_tree, {"Card"}).style.fill, "#a0a0a0");
}

}  // namespace

namespace {

TEST(RenderTree, nothing_is_read_from_bases_or_trees_that_are_gone) {
  const ExtraStyles styles(R"(Main:
    Title << Ombrix/Text:
        Text: "title"
    Other << Ombrix/Text:
        Text: "other"
)");
  auto app = styles.load("Main");
  Drelm::DLayer* ombrix = app->engine().find_layer("Ombrix");
  Drelm::DLayer* main = app->engine().find_layer("Main");
  Drelm::DLayer* title = app->engine().find_layer("Main/Title");
  using Drelm::DValue;
  const auto text = [](const char* value) { return DValue(std::string(value)); };
  const auto shown = [&](const char* step) {
    SCOPED_TRACE(step);
    app->render_patches();
    EXPECT_EQ(Ombrix::node_to_json(*app->previous_tree).dump(),
              Ombrix::node_to_json(support::render_afresh(*app)).dump());
    return *app->previous_tree;
  };
  shown("first");

  // A destroyed base in the same tree is forgotten; its slot may be reused.
  ombrix->destroy_child(app->engine().find_layer("Ombrix/Text"));
  EXPECT_EQ(title->base(), nullptr);
  EXPECT_TRUE(title->has_unresolved_base());
  EXPECT_EQ(title->base_path(), "Ombrix/Text");
  app->engine().find_layer("Ombrix/Button")->clone_to(main);
  RenderNode tree = shown("base destroyed");
  EXPECT_EQ(support::at(tree, {"Title"}).type, NodeType::box);
  EXPECT_EQ(support::at(tree, {"Title"}).text, "title");  // what was copied stays
  Drelm::dMake<Drelm::DLayer>(ombrix, "Text");
  app->engine().root()->resolve_bases();
  tree = shown("base found again");
  EXPECT_EQ(support::at(tree, {"Title"}).type, NodeType::text);

  // A tree of the program's own, copied into the model's tree.
  auto own = std::make_unique<Drelm::DLayer>();
  Drelm::DLayer* button = Drelm::dMake<Drelm::DLayer>(own.get(), "Button");
  Drelm::DAttribute* fill = Drelm::dMake<Drelm::DAttribute>(button, "Fill");
  fill->set_value(text("#ff000001"));
  Drelm::dMake<Drelm::DAttribute>(fill, "Hover")->set_value(text("#ff000002"));
  Drelm::DAttribute* color = Drelm::dMake<Drelm::DAttribute>(button, "Text Color");
  color->set_value(text("#ff000003"));
  Drelm::DLayer* thing = Drelm::dMake<Drelm::DLayer>(own.get(), "Thing");
  thing->set_base_path("Button");
  Drelm::dMake<Drelm::DAttribute>(thing, "Fill")->set_value(text("#ff000004"));
  own->resolve_bases();
  thing->clone_to(main);
  Drelm::DLayer* copy = app->engine().find_layer("Main/Thing");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->base(), button);
  copy->find_attribute("Fill")->set_value(text("#ff000005"));
  app->engine().find_layer("Main/Other")->find_attribute("Text")->create_link(color);
  app->states.insert("Hover");
  tree = shown("copied");
  EXPECT_EQ(support::at(tree, {"Thing"}).type, NodeType::button);
  EXPECT_EQ(support::at(tree, {"Thing"}).style.fill, "#ff000002");
  EXPECT_EQ(support::at(tree, {"Other"}).text, "#ff000003");

  // A base destroyed there, while its tree stays.
  Drelm::DLayer* link_base = Drelm::dMake<Drelm::DLayer>(own.get(), "Link");
  Drelm::DLayer* web = Drelm::dMake<Drelm::DLayer>(own.get(), "Web");
  web->set_base_path("Link");
  own->resolve_bases();
  web->clone_to(main);
  Drelm::DLayer* web_copy = app->engine().find_layer("Main/Web");
  EXPECT_EQ(support::at(shown("second copy"), {"Web"}).type, NodeType::link);
  own->destroy_child(link_base);
  EXPECT_EQ(web_copy->base(), nullptr);
  EXPECT_EQ(web_copy->base_path(), "Link");
  EXPECT_EQ(support::at(shown("base destroyed there"), {"Web"}).type, NodeType::box);

  // The first copy's base renamed there: a kind, then a detail, a kind again.
  button->set_object_name("Text");
  EXPECT_EQ(shown("renamed Text").children.size(), 5u);
  EXPECT_EQ(support::at(*app->previous_tree, {"Thing"}).type, NodeType::text);
  button->set_object_name("Detail");
  EXPECT_EQ(support::child(shown("renamed Detail"), "Thing"), nullptr);
  button->set_object_name("Button");
  EXPECT_EQ(support::at(shown("renamed Button"), {"Thing"}).type, NodeType::button);

  // The whole tree destroyed: its base, its states and its link are gone.
  own.reset();
  EXPECT_EQ(copy->base(), nullptr);
  EXPECT_TRUE(copy->has_unresolved_base());
  tree = shown("tree destroyed");
  EXPECT_EQ(support::at(tree, {"Thing"}).type, NodeType::box);
  EXPECT_EQ(support::at(tree, {"Thing"}).style.fill, "#ff000005");
  EXPECT_EQ(support::at(tree, {"Other"}).text, "#ff000003");
  app->engine().find_layer("Ombrix/Button")->clone_to(main);
  shown("slots reused");
}

}  // namespace
