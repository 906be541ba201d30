#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "support/files.h"
#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Ombrix {
namespace {

using Drelm::DValue;

const std::string kFixtures = std::string(OMBRIX_FIXTURES_DIR) + "/app_themes";
const std::string kThemes = kFixtures + "/themes";
const std::string kStyles = kFixtures + "/styles";
const std::string kDark = "Dark (Lamplight)";

// The value an attribute reads, links followed; nothing when the attribute is missing.
DValue read(OApp& app, const std::string& layer, const std::string& attribute) {
  Drelm::DLayer* found = app.engine().find_layer(layer);
  if (found == nullptr) return {};
  Drelm::DAttribute* attr = found->find_attribute(attribute);
  return attr == nullptr ? DValue{} : attr->value();
}

struct Recorder {
  std::vector<std::string> ids;
  void attach(OApp& app) {
    app.on_theme_changed = [this](const std::string& id) { ids.push_back(id); };
  }
};

TEST(ParseThemeJson, takes_the_first_item_of_the_root_and_rejects_everything_else) {
  struct Case {
    std::string text;
    bool ok;
    std::string name;
  };
  const Case cases[] = {
      {R"({"A": {"Primary": "#1"}, "B": {}})", true, "A"},
      {R"([{"Primary": "#1"}, {}])", true, "0"},
      {R"("just text")", true, ""},
      {"42", true, ""},
      {"true", true, ""},
      {"null", false, ""},
      {"{}", false, ""},
      {"[]", false, ""},
      {"", false, ""},
      {R"({"A": {}} trailing)", false, ""},
      {R"({"A": {}} // comment)", false, ""},
      {"{\"A\": {\"Primary\": \"\xff\"}}", false, ""},
      {std::string(100000, '[') + std::string(100000, ']'), true, "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    OTheme out;
    out.name = "untouched";
    out.values["Primary"] = std::string("#keep");
    EXPECT_EQ(parse_theme_json(c.text, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out.name, c.name);
    } else {
      EXPECT_EQ(out.name, "untouched");
      EXPECT_EQ(out.color("Primary"), "#keep");
    }
  }

  OTheme first;
  ASSERT_TRUE(parse_theme_json(R"({"A": {"Primary": "#1"}, "B": {"Primary": "#2"}})", first));
  EXPECT_EQ(first.color("Primary"), "#1");
}

TEST(Init, installs_the_json_themes_of_one_level_and_activates_the_requested_one) {
  OApp app;
  Recorder changes;
  changes.attach(app);
  ASSERT_TRUE(app.init(kThemes, kStyles, "Light", {}));

  // Capital extension, a bare ".json", a sub-directory, a directory named
  // like a theme and broken JSON are all passed over.
  std::vector<std::string> ids;
  for (const auto& [id, theme] : app.themes) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{kDark, "Light"}));
  EXPECT_EQ(app.themes.at(kDark).color("Custom"), "#abcdef");

  EXPECT_EQ(app.active_theme, "Light");
  EXPECT_EQ(changes.ids, std::vector<std::string>{"Light"});

  // A flag stays a flag; keys the theme lacks get their defaults.
  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(true));
  EXPECT_EQ(read(app, "Theme", "Secondary"), DValue(std::string("#fafafa")));
  EXPECT_EQ(read(app, "Theme", "Foreground"), DValue(std::string("#e3e3e3")));
  EXPECT_EQ(read(app, "Theme", "Gradient.Start"), DValue(0.0));
  EXPECT_EQ(read(app, "Theme", "Gradient.End Color"), DValue(std::string("#42454d")));
  // Not declared in the style, so not created either; extra keys never reach the tree.
  EXPECT_EQ(read(app, "Theme", "Tertiary"), DValue{});
  EXPECT_EQ(read(app, "Theme", "Custom"), DValue{});
  // Linked attributes read the theme through their links.
  EXPECT_EQ(read(app, "Panel", "Fill"), DValue(true));
  EXPECT_EQ(read(app, "Panel", "Text Color"), DValue(std::string("#3a3c42")));
  // Widgets went under their namespace.
  EXPECT_NE(app.engine().find_layer("Ombrix/Button"), nullptr);
}

TEST(Init, falls_back_to_the_first_theme_and_loads_extra_style_dirs) {
  OApp app;
  Recorder changes;
  changes.attach(app);
  ASSERT_TRUE(app.init(kThemes, kStyles, "No Such Theme", {kFixtures + "/extra"}));
  EXPECT_EQ(app.active_theme, kDark);
  EXPECT_EQ(changes.ids, std::vector<std::string>{kDark});

  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(std::string("#101010")));
  EXPECT_EQ(read(app, "Theme", "Gradient.End"), DValue(100.0));
  EXPECT_EQ(read(app, "Panel", "Text Color"), DValue(std::string("#111111")));
  // Secondary is not in the theme: the default, followed by the extra layer's link.
  EXPECT_EQ(read(app, "Extra Panel", "Fill"), DValue(std::string("#2f3136")));
}

TEST(Init, fails_without_themes_but_still_loads_the_styles) {
  const std::string unlisted = kFixtures + "/themes/light.json";  // a file, not a directory
  for (const std::string& dir : {kFixtures + "/no-such-dir", unlisted, std::string()}) {
    SCOPED_TRACE(dir);
    OApp app;
    Recorder changes;
    changes.attach(app);
    EXPECT_FALSE(app.init(dir, kStyles, "Light", {}));
    EXPECT_TRUE(app.themes.empty());
    EXPECT_TRUE(app.active_theme.empty());
    EXPECT_TRUE(changes.ids.empty());
    EXPECT_EQ(read(app, "Theme", "Primary"), DValue(std::string("#ff000000")));
  }

  // Missing style directories change nothing about the result.
  OApp bare;
  EXPECT_TRUE(bare.init(kThemes, kFixtures + "/no-such-styles", "", {kFixtures + "/nowhere"}));
  EXPECT_EQ(bare.active_theme, kDark);
}

TEST(Init, reads_regular_theme_files_through_links_and_passes_over_what_cannot_be_read) {
  namespace fs = std::filesystem;
  const support::TempDir scratch;
  const fs::path& dir = scratch.path();
  scratch.write("elsewhere/linked.txt", R"({"Linked": {"Primary": "#010101"}})");
  fs::create_symlink(dir / "elsewhere" / "linked.txt", dir / "linked.json");
  // Opening a pipe with no writer would block start-up for good.
  ASSERT_EQ(::mkfifo((dir / "pipe.json").c_str(), 0600), 0);
  // Regular files of size 0 that read about 256 GiB, and that fail to read.
  fs::create_symlink("/proc/self/pagemap", dir / "pagemap.json");
  fs::create_symlink("/proc/self/mem", dir / "mem.json");

  OApp app;
  EXPECT_TRUE(app.init(dir.string(), kStyles, "", {}));
  ASSERT_EQ(app.themes.size(), 1u);
  EXPECT_EQ(app.active_theme, "Linked");
}

TEST(ThemeActivation, fires_on_theme_changed_only_when_the_id_changes) {
  OApp app;
  ASSERT_TRUE(app.init(kThemes, kStyles, "Light", {}));
  Recorder changes;
  changes.attach(app);

  EXPECT_FALSE(app.set_active_theme("Nope"));
  EXPECT_EQ(app.active_theme, "Light");

  // Re-activating the active theme writes its values again but is no change.
  app.engine().find_layer("Theme")->find_attribute("Primary")->set_value(DValue(1.0));
  EXPECT_TRUE(app.set_active_theme("Light"));
  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(true));
  EXPECT_TRUE(changes.ids.empty());

  EXPECT_TRUE(app.set_active_theme(kDark));
  EXPECT_EQ(read(app, "Panel", "Fill"), DValue(std::string("#101010")));
  EXPECT_EQ(changes.ids, std::vector<std::string>{kDark});

  app.record_active_theme(kDark);
  app.record_active_theme("Anything");
  EXPECT_EQ(changes.ids, (std::vector<std::string>{kDark, "Anything"}));
  // Recording applies nothing.
  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(std::string("#101010")));

  // The hook may replace itself while it runs, and is told of the switches it makes.
  changes.ids.clear();
  app.on_theme_changed = [&app, &changes, tag = std::string(32, '+')](const std::string& id) {
    if (id == "Light") app.set_active_theme(kDark);
    app.on_theme_changed = [&changes](const std::string& next) {
      changes.ids.push_back("next " + next);
    };
    changes.ids.push_back(tag.substr(0, 1) + id);
  };
  EXPECT_TRUE(app.set_active_theme("Light"));
  EXPECT_EQ(app.active_theme, kDark);
  EXPECT_TRUE(app.set_active_theme("Light"));
  EXPECT_EQ(changes.ids, (std::vector<std::string>{"+" + kDark, "+Light", "next Light"}));
}

TEST(ThemeActivation, remove_theme_keeps_one_and_moves_off_the_active_one) {
  OApp app;
  ASSERT_TRUE(app.init(kThemes, kStyles, kDark, {}));
  ASSERT_EQ(app.add_theme_json(R"({"Zed": {"Primary": "#333333"}})"), "Zed");
  Recorder changes;
  changes.attach(app);

  EXPECT_FALSE(app.remove_theme("Nope"));

  // Active and first in map order: the second takes over.
  EXPECT_TRUE(app.remove_theme(kDark));
  EXPECT_EQ(app.active_theme, "Light");
  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(true));
  EXPECT_EQ(changes.ids, std::vector<std::string>{"Light"});

  // Active but not first: the first takes over.
  ASSERT_TRUE(app.set_active_theme("Zed"));
  EXPECT_TRUE(app.remove_theme("Zed"));
  EXPECT_EQ(app.active_theme, "Light");
  EXPECT_EQ(changes.ids, (std::vector<std::string>{"Light", "Zed", "Light"}));

  // The last theme stays.
  EXPECT_FALSE(app.remove_theme("Light"));
  EXPECT_EQ(app.themes.size(), 1u);

  // An id that is a reference into the map itself is safe to pass.
  ASSERT_EQ(app.add_theme_json(R"({"Other": {}})"), "Other");
  EXPECT_TRUE(app.remove_theme(app.themes.begin()->first));
  EXPECT_EQ(app.active_theme, "Other");
  ASSERT_EQ(app.themes.size(), 1u);
  EXPECT_EQ(app.themes.begin()->first, "Other");
}

TEST(ThemeActivation, add_theme_json_installs_without_activating_and_refreshes_the_active_one) {
  OApp app;
  ASSERT_TRUE(app.init(kThemes, kStyles, "Light", {}));
  Recorder changes;
  changes.attach(app);

  EXPECT_EQ(app.add_theme_json("{ broken"), "");
  EXPECT_EQ(app.add_theme_json("{}"), "");
  EXPECT_EQ(app.themes.size(), 2u);

  EXPECT_EQ(app.add_theme_json(R"({"New": {"_meta": {"uuid": "u-7"}, "Primary": "#404040"}})"),
            "New (u-7)");
  EXPECT_EQ(app.active_theme, "Light");
  EXPECT_EQ(read(app, "Theme", "Primary"), DValue(true));

  EXPECT_EQ(app.add_theme_json(R"({"Light": {"Primary": "#505050"}})"), "Light");
  EXPECT_EQ(read(app, "Panel", "Fill"), DValue(std::string("#505050")));
  // Secondary is gone from the new version, so it falls back to its default.
  EXPECT_EQ(read(app, "Theme", "Secondary"), DValue(std::string("#2f3136")));
  EXPECT_TRUE(changes.ids.empty());
}

TEST(ThemeActivation, change_callbacks_may_remove_the_theme_being_applied) {
  // Runs action once, from the first change of the theme's "Primary".
  const auto on_primary_change = [](OApp& app, std::function<void()> action) {
    app.engine().find_layer("Theme")->find_attribute("Primary")->on_change(
        [action = std::move(action), done = false]() mutable {
          if (!std::exchange(done, true)) action();
        });
  };

  // Three of the theme keys as the "Theme" layer shows them.
  const auto shown = [](OApp& app) {
    return std::vector<DValue>{read(app, "Theme", "Foreground"), read(app, "Theme", "Primary"),
                               read(app, "Theme", "Secondary")};
  };
  const std::vector<DValue> light_values{DValue(std::string("#e3e3e3")), DValue(true),
                                         DValue(std::string("#fafafa"))};
  const std::vector<DValue> dark_values{DValue(std::string("#eeeeee")),
                                        DValue(std::string("#101010")),
                                        DValue(std::string("#2f3136"))};

  // The theme being activated, named by its own key, is removed: it is not recorded.
  OApp activated;
  ASSERT_TRUE(activated.init(kThemes, kStyles, "Light", {}));
  on_primary_change(activated, [&] { activated.remove_theme(kDark); });
  EXPECT_FALSE(activated.set_active_theme(activated.themes.find(kDark)->first));
  EXPECT_EQ(activated.active_theme, "Light");
  EXPECT_EQ(activated.themes.size(), 1u);
  // The layer tree shows the theme that stays active, not what was written of the other.
  EXPECT_EQ(shown(activated), light_values);

  // The theme taking over from a removed active one is removed: the active one stays.
  OApp removed;
  ASSERT_TRUE(removed.init(kThemes, kStyles, "Light", {}));
  on_primary_change(removed, [&] { removed.remove_theme(kDark); });
  EXPECT_FALSE(removed.remove_theme("Light"));
  EXPECT_EQ(removed.active_theme, "Light");
  EXPECT_EQ(removed.themes.size(), 1u);
  EXPECT_EQ(shown(removed), light_values);

  // Callbacks go on switching while the active theme is written again: it is
  // written until it stays.
  OApp restless;
  ASSERT_TRUE(restless.init(kThemes, kStyles, "Light", {}));
  ASSERT_EQ(restless.add_theme_json(R"({"Zed": {"Primary": "#333333"}})"), "Zed");
  restless.engine().find_layer("Theme")->find_attribute("Primary")->on_change([&, n = 0]() mutable {
    ++n;
    if (n == 1) restless.remove_theme(kDark);
    if (n == 2 || n == 3) restless.record_active_theme(n == 2 ? "Zed" : "Light");
  });
  EXPECT_FALSE(restless.set_active_theme(kDark));
  EXPECT_EQ(restless.active_theme, "Light");
  EXPECT_EQ(shown(restless), light_values);

  // A callback switches, or installs a new version of the theme being
  // written, and the call goes on to succeed: the layer shows the theme the
  // call leaves active, and each change of the id was reported.
  struct Interrupted {
    std::string kind;
    std::function<void(OApp&)> interrupt;
    std::function<bool(OApp&)> call;
    std::vector<DValue> expected;
  };
  const auto to_zed = [](OApp& app) { app.set_active_theme("Zed"); };
  const Interrupted interrupted[] = {
      {"switch during a switch", to_zed, [](OApp& app) { return app.set_active_theme(kDark); },
       dark_values},
      {"switch while moving off a removed theme", to_zed,
       [](OApp& app) { return app.remove_theme("Light"); }, dark_values},
      {"new version during a switch",
       [](OApp& app) { app.add_theme_json(R"({"Dark": {"_meta": {"publisher": "Lamplight"}}})"); },
       [](OApp& app) { return app.set_active_theme(kDark); },
       {DValue(std::string("#e3e3e3")), DValue(std::string("#36393f")),
        DValue(std::string("#2f3136"))}},
  };
  for (const auto& c : interrupted) {
    SCOPED_TRACE(c.kind);
    OApp app;
    ASSERT_TRUE(app.init(kThemes, kStyles, "Light", {}));
    ASSERT_EQ(app.add_theme_json(R"({"Zed": {"Primary": "#333333"}})"), "Zed");
    Recorder changes;
    changes.attach(app);
    on_primary_change(app, [&] { c.interrupt(app); });
    EXPECT_TRUE(c.call(app));
    EXPECT_EQ(app.active_theme, kDark);
    EXPECT_EQ(shown(app), c.expected);
    ASSERT_FALSE(changes.ids.empty());
    EXPECT_EQ(changes.ids.back(), kDark);
  }

  // A callback destroys the attribute it reports, or the whole theme layer:
  // the switch goes on with what is left.
  OApp lost_attribute;
  ASSERT_TRUE(lost_attribute.init(kThemes, kStyles, "Light", {}));
  Drelm::DLayer* theme_layer = lost_attribute.engine().find_layer("Theme");
  on_primary_change(lost_attribute,
                    [&] { theme_layer->destroy_child(theme_layer->find_attribute("Primary")); });
  EXPECT_TRUE(lost_attribute.set_active_theme(kDark));
  EXPECT_EQ(lost_attribute.active_theme, kDark);
  EXPECT_EQ(theme_layer->find_attribute("Primary"), nullptr);
  EXPECT_EQ(read(lost_attribute, "Theme", "Secondary"), DValue(std::string("#2f3136")));
  EXPECT_EQ(read(lost_attribute, "Panel", "Fill"), DValue(std::string("#101010")));

  OApp lost_layer;
  ASSERT_TRUE(lost_layer.init(kThemes, kStyles, "Light", {}));
  on_primary_change(lost_layer, [&] {
    Drelm::DLayer* layer = lost_layer.engine().find_layer("Theme");
    layer->parent()->destroy_child(layer);
  });
  EXPECT_TRUE(lost_layer.set_active_theme(kDark));
  EXPECT_EQ(lost_layer.active_theme, kDark);
  EXPECT_EQ(lost_layer.engine().find_layer("Theme"), nullptr);
  EXPECT_EQ(read(lost_layer, "Panel", "Fill"), DValue(std::string("#101010")));

  // The active theme removes itself again while moving off: removed once.
  OApp twice;
  ASSERT_TRUE(twice.init(kThemes, kStyles, "Light", {}));
  on_primary_change(twice, [&] { twice.remove_theme("Light"); });
  EXPECT_TRUE(twice.remove_theme("Light"));
  EXPECT_EQ(twice.active_theme, kDark);
  EXPECT_EQ(twice.themes.size(), 1u);

  // A new version of the active theme is removed while it is applied.
  OApp added;
  ASSERT_TRUE(added.init(kThemes, kStyles, "Light", {}));
  on_primary_change(added, [&] { added.remove_theme("Light"); });
  EXPECT_EQ(added.add_theme_json(R"({"Light": {"Primary": "#505050", "Secondary": "#515151"}})"),
            "Light");
  EXPECT_EQ(added.active_theme, kDark);
  EXPECT_FALSE(added.themes.contains("Light"));
  EXPECT_EQ(shown(added), dark_values);
}

TEST(ThemeActivation, writes_nothing_without_a_theme_layer) {
  OApp app;
  OTheme theme;
  ASSERT_TRUE(parse_theme_json(R"({"T": {"Primary": "#1"}})", theme));
  app.apply_theme_to_proxy(theme);
  EXPECT_EQ(app.engine().find_layer("Theme"), nullptr);
}

}  // namespace
}  // namespace Ombrix
