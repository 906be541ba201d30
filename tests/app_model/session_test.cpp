// A user's session on the demo interface: the demo's own styles, themes and
// wiring, driven by clicks and inputs, with the exact patch list checked after
// every step.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_model/app.h"
#include "examples/demo/wiring.h"
#include "support/log_capture.h"
#include "support/patches.h"

namespace {

using Ombrix::OApp;
using Ombrix::Patch;
using Ombrix::RenderNode;
using ombrix_demo::kCode;
using ombrix_demo::kDialog;
using ombrix_demo::kFormat;
using ombrix_demo::kNote;
using ombrix_demo::kPreview;
using ombrix_demo::kTabs;
using ombrix_demo::kThemeList;
using Lines = std::vector<std::string>;
using support::describe;

const std::string kDemo = std::string(OMBRIX_FIXTURES_DIR) + "/../../examples/demo";
const std::string kThemesDir = kDemo + "/themes";
// The rows of the theme-directory list, by node path.
const std::string kSources = kDialog + "/Sources";

// Kind and path of every node, parent before children.
void outline(const RenderNode& node, Lines& lines) {
  lines.push_back(std::string(Ombrix::to_string(node.type)) + " " + node.path);
  for (const RenderNode& child : node.children) outline(child, lines);
}

Lines outline(const RenderNode& node) {
  Lines lines;
  outline(node, lines);
  return lines;
}

const Patch& patch_for(const std::vector<Patch>& patches, const std::string& path) {
  const auto it =
      std::find_if(patches.begin(), patches.end(), [&](const Patch& p) { return p.path == path; });
  if (it == patches.end()) {
    ADD_FAILURE() << "no patch for " << path;
    static const Patch none;
    return none;
  }
  return *it;
}

const RenderNode* find_node(const RenderNode& node, const std::string& path) {
  if (node.path == path) return &node;
  for (const RenderNode& child : node.children) {
    if (const RenderNode* found = find_node(child, path)) return found;
  }
  return nullptr;
}

// The demo wired as the program wires it, with the selections that reach the
// format's handler and the theme changes recorded on the way.
struct Session {
  ombrix_demo::Demo demo;
  Lines selections;
  Lines theme_changes;

  Session() {
    demo.themes_dir = kThemesDir;
    ombrix_demo::wire(demo);
    OApp& app = demo.app;
    app.select_handlers[kFormat] =
        [this, select = app.select_handlers.at(kFormat)](const std::string& id) {
          selections.push_back(id);
          select(id);
        };
    app.on_theme_changed = [this](const std::string& id) { theme_changes.push_back(id); };
  }
  Session(const Session&) = delete;  // the handlers hold on to this one
  Session& operator=(const Session&) = delete;
};

TEST(Session, clicks_and_inputs_on_the_demo_interface_give_the_expected_patches) {
  Session session;
  OApp& app = session.demo.app;
  {
    const support::LogCapture capture;
    ASSERT_TRUE(app.init(kThemesDir, kDemo + "/styles", "Midnight (Ombrix)", {}));
    EXPECT_EQ(capture.lines(), Lines{});
  }
  EXPECT_TRUE(app.engine().unresolved_links().empty());
  EXPECT_EQ(session.theme_changes, Lines{"Midnight (Ombrix)"});

  std::vector<Patch> patches;
  {
    SCOPED_TRACE("first render: the whole tree in one insert");
    patches = app.render_patches();
    ASSERT_EQ(describe(patches), Lines{"insert App at 0"});
    // The dialog and the Settings view are hidden, and border details are no nodes.
    const RenderNode& root = patches[0].node;
    EXPECT_EQ(outline(root), (Lines{
                                 "box App",
                                 "box App/Title Bar",
                                 "icon App/Title Bar/Logo",
                                 "text App/Title Bar/Title",
                                 "box App/Title Bar/Tabs",
                                 "button App/Title Bar/Tabs/Share",
                                 "button App/Title Bar/Tabs/Settings",
                                 "box App/Content",
                                 "box App/Content/Share",
                                 "text App/Content/Share/Heading",
                                 "editor App/Content/Share/Note",
                                 "combobox App/Content/Share/Format",
                                 "text App/Content/Share/Preview",
                                 "qr App/Content/Share/Code",
                             }));
    EXPECT_EQ(root.style.fill, "0:#3a3c42,1:#42454d");
    EXPECT_TRUE(root.style.fillIsGradient);
    EXPECT_EQ(find_node(root, kTabs + "Share")->style.fill, "#36393f");
    EXPECT_EQ(find_node(root, kTabs + "Settings")->style.fill, "#25272b");
    EXPECT_EQ(find_node(root, kPreview)->text, "Nothing to share yet.");
    const RenderNode& format = *find_node(root, kFormat);
    EXPECT_EQ(format.comboOptions.size(), 3u);
    EXPECT_EQ(format.comboSelected, "text");
  }
  {
    SCOPED_TRACE("nothing changed");
    EXPECT_EQ(describe(app.render_patches()), Lines{});
  }
  {
    SCOPED_TRACE("typing a note updates the preview and the code, not the editor");
    app.dispatch(kNote, "input:Lunch at noon");
    EXPECT_EQ(app.input_values.at(kNote), "Lunch at noon");
    patches = app.render_patches();
    EXPECT_EQ(describe(patches), (Lines{"update " + kPreview, "update " + kCode}));
    EXPECT_EQ(patch_for(patches, kPreview).node.text, "Encoded: Lunch at noon");
    EXPECT_EQ(patch_for(patches, kCode).node.style.qrData, "Lunch at noon");
  }
  {
    SCOPED_TRACE("choosing another format");
    app.dispatch(kFormat, "select:mail");
    patches = app.render_patches();
    EXPECT_EQ(describe(patches),
              (Lines{"update " + kFormat, "update " + kPreview, "update " + kCode}));
    EXPECT_EQ(patch_for(patches, kFormat).node.comboSelected, "mail");
    EXPECT_EQ(patch_for(patches, kPreview).node.text,
              "Encoded: mailto:?subject=Note&body=Lunch%20at%20noon");
    EXPECT_EQ(patch_for(patches, kCode).node.style.qrData,
              "mailto:?subject=Note&body=Lunch%20at%20noon");
  }
  {
    SCOPED_TRACE("an option the combo box does not offer");
    app.dispatch(kFormat, "select:fax");
    EXPECT_EQ(describe(app.render_patches()), Lines{});
    EXPECT_EQ(app.combo_selected.at(kFormat), "mail");
    EXPECT_EQ(session.selections, Lines{"mail"});
  }
  {
    SCOPED_TRACE("switching to the Settings tab");
    app.dispatch(kTabs + "Settings", "click");
    patches = app.render_patches();
    EXPECT_EQ(describe(patches), (Lines{
                                     "update App/Title Bar/Tabs/Share",
                                     "update App/Title Bar/Tabs/Settings",
                                     "remove App/Content/Share",
                                     "insert App/Content/Settings in App/Content at 0",
                                 }));
    EXPECT_EQ(patch_for(patches, kTabs + "Share").node.style.fill, "#25272b");
    EXPECT_EQ(patch_for(patches, kTabs + "Settings").node.style.fill, "#36393f");
    const RenderNode& view = patch_for(patches, "App/Content/Settings").node;
    const std::string daylight = kThemeList + "/Daylight (Ombrix)";
    const std::string midnight = kThemeList + "/Midnight (Ombrix)";
    EXPECT_EQ(outline(view), (Lines{
                                 "box App/Content/Settings",
                                 "text App/Content/Settings/Heading",
                                 "box " + kThemeList,
                                 "button " + daylight,
                                 "text " + daylight + "/Name",
                                 "text " + daylight + "/Publisher",
                                 "button " + midnight,
                                 "text " + midnight + "/Name",
                                 "text " + midnight + "/Publisher",
                                 "button App/Content/Settings/Directories",
                             }));
    // Each button wears its own theme; the active one has the heavy border.
    const RenderNode& day = *find_node(view, daylight);
    EXPECT_EQ(day.style.fill, "#ffffff");
    EXPECT_EQ(day.style.borderFill, "#d0d7de");
    EXPECT_EQ(day.style.borderThickness, 1.0);
    EXPECT_EQ(day.children[0].text, "Daylight");
    EXPECT_EQ(day.children[1].text, "Ombrix");
    EXPECT_EQ(day.children[0].style.textColor, "#1f2328");
    const RenderNode& night = *find_node(view, midnight);
    EXPECT_EQ(night.style.borderFill, "#e3e3e3");
    EXPECT_EQ(night.style.borderThickness, 3.0);
  }
  {
    SCOPED_TRACE("clicking a theme button restyles every themed node");
    app.dispatch(kThemeList + "/Daylight (Ombrix)", "click");
    EXPECT_EQ(app.active_theme, "Daylight (Ombrix)");
    EXPECT_EQ(session.theme_changes, (Lines{"Midnight (Ombrix)", "Daylight (Ombrix)"}));
    patches = app.render_patches();
    // Boxes without theme colours (Tabs, Content, the view, the list) and the
    // button labels, which keep their own theme's colour, stay as they are.
    EXPECT_EQ(describe(patches), (Lines{
                                     "update App",
                                     "update App/Title Bar",
                                     "update App/Title Bar/Logo",
                                     "update App/Title Bar/Title",
                                     "update App/Title Bar/Tabs/Share",
                                     "update App/Title Bar/Tabs/Settings",
                                     "update App/Content/Settings/Heading",
                                     "update " + kThemeList + "/Daylight (Ombrix)",
                                     "update " + kThemeList + "/Midnight (Ombrix)",
                                     "update App/Content/Settings/Directories",
                                 }));
    const Patch& root = patch_for(patches, "App");
    EXPECT_EQ(root.node.style.fill, "0:#f6f8fa,1:#e9edf1");
    EXPECT_TRUE(root.node.children.empty());
    EXPECT_EQ(patch_for(patches, "App/Title Bar").node.style.fill, "#d0d7de");
    EXPECT_EQ(patch_for(patches, "App/Title Bar/Logo").node.style.textColor, "#1f2328");
    EXPECT_EQ(patch_for(patches, kTabs + "Settings").node.style.fill, "#ffffff");
    EXPECT_EQ(patch_for(patches, kTabs + "Share").node.style.fill, "#d0d7de");
    const Patch& day = patch_for(patches, kThemeList + "/Daylight (Ombrix)");
    EXPECT_EQ(day.node.style.borderFill, "#1f2328");
    EXPECT_EQ(day.node.style.borderThickness, 3.0);
    EXPECT_TRUE(day.node.children.empty());
    const Patch& night = patch_for(patches, kThemeList + "/Midnight (Ombrix)");
    EXPECT_EQ(night.node.style.borderFill, "#25272b");
    EXPECT_EQ(night.node.style.borderThickness, 1.0);
  }
  {
    SCOPED_TRACE("opening the dialog");
    app.dispatch("App/Content/Settings/Directories", "click");
    patches = app.render_patches();
    EXPECT_EQ(describe(patches), Lines{"insert " + kDialog + " in App at 2"});
    const RenderNode& dialog = patches.at(0).node;
    // The built-in source's remove button resolves invisible and is left out.
    EXPECT_EQ(outline(dialog), (Lines{
                                   "box " + kDialog,
                                   "text " + kDialog + "/Heading",
                                   "box " + kSources,
                                   "box " + kSources + "/builtin",
                                   "icon " + kSources + "/builtin/Folder",
                                   "text " + kSources + "/builtin/Location",
                                   "box " + kDialog + "/Actions",
                                   "button " + kDialog + "/Actions/Add",
                                   "button " + kDialog + "/Actions/Close",
                               }));
    EXPECT_EQ(dialog.style.fill, "#f0f2f4");
    EXPECT_EQ(dialog.style.overlay, "modal");
    const RenderNode& row = *find_node(dialog, kSources + "/builtin");
    EXPECT_EQ(row.children[1].text, kThemesDir);
    // A single row is both first and last: all four corners rounded.
    EXPECT_EQ(row.style.radiusTL, 6.0);
    EXPECT_EQ(row.style.radiusBR, 6.0);
  }
  {
    SCOPED_TRACE("adding a theme source");
    app.dispatch(kDialog + "/Actions/Add", "click");
    EXPECT_EQ(app.themes.size(), 3u);
    patches = app.render_patches();
    EXPECT_EQ(describe(patches),
              (Lines{
                  "insert " + kThemeList + "/Forest (Ombrix) in " + kThemeList + " at 1",
                  "update " + kSources + "/builtin",
                  "insert " + kSources + "/builtin:sep in " + kSources + " at 1",
                  "insert " + kSources + "/user-1 in " + kSources + " at 2",
              }));
    const RenderNode& forest = patch_for(patches, kThemeList + "/Forest (Ombrix)").node;
    EXPECT_EQ(forest.style.fill, "#2e4a37");
    EXPECT_EQ(forest.style.borderThickness, 1.0);
    EXPECT_EQ(forest.children.size(), 2u);
    // The built-in row is no longer last: its bottom corners go square.
    const RenderNode& builtin = patch_for(patches, kSources + "/builtin").node;
    EXPECT_EQ(builtin.style.radiusTL, 6.0);
    EXPECT_EQ(builtin.style.radiusBL, 0.0);
    EXPECT_EQ(builtin.style.radiusBR, 0.0);
    EXPECT_EQ(patch_for(patches, kSources + "/builtin:sep").node.style.height, 1.0);
    const RenderNode& added = patch_for(patches, kSources + "/user-1").node;
    EXPECT_EQ(outline(added), (Lines{
                                  "box " + kSources + "/user-1",
                                  "icon " + kSources + "/user-1/Folder",
                                  "text " + kSources + "/user-1/Location",
                                  "button " + kSources + "/user-1/Remove",
                              }));
    EXPECT_EQ(added.children[1].text, kThemesDir + "/extra");
    EXPECT_EQ(added.style.radiusTL, 0.0);
    EXPECT_EQ(added.style.radiusBL, 6.0);
  }
  {
    SCOPED_TRACE("removing the added source again");
    app.dispatch(kSources + "/user-1/Remove", "click");
    EXPECT_EQ(app.themes.size(), 2u);
    EXPECT_EQ(app.lists.at(ombrix_demo::kSources).size(), 1u);
    patches = app.render_patches();
    EXPECT_EQ(describe(patches), (Lines{
                                     "remove " + kThemeList + "/Forest (Ombrix)",
                                     "remove " + kSources + "/builtin:sep",
                                     "remove " + kSources + "/user-1",
                                     "update " + kSources + "/builtin",
                                 }));
    EXPECT_EQ(patch_for(patches, kSources + "/builtin").node.style.radiusBR, 6.0);
  }
  {
    SCOPED_TRACE("closing the dialog, back to the note, with an editor text queued");
    app.dispatch(kDialog + "/Actions/Close", "click");
    app.dispatch(kTabs + "Share", "click");
    app.pending_editor_values.emplace_back(kNote, "Dinner at eight");
    patches = app.render_patches();
    // The window's own removal comes before anything deeper; the editor text
    // comes last, once the editor it addresses has been inserted.
    EXPECT_EQ(describe(patches), (Lines{
                                     "remove " + kDialog,
                                     "update App/Title Bar/Tabs/Share",
                                     "update App/Title Bar/Tabs/Settings",
                                     "remove App/Content/Settings",
                                     "insert App/Content/Share in App/Content at 0",
                                     "editorvalue " + kNote + " = Dinner at eight",
                                 }));
    EXPECT_EQ(patches.back().node.text, "Dinner at eight");
    EXPECT_TRUE(app.pending_editor_values.empty());
    // The view comes back with what was stored while it was hidden, in the new theme.
    const RenderNode& view = patch_for(patches, "App/Content/Share").node;
    EXPECT_EQ(find_node(view, kPreview)->text,
              "Encoded: mailto:?subject=Note&body=Lunch%20at%20noon");
    EXPECT_EQ(find_node(view, kFormat)->comboSelected, "mail");
    EXPECT_EQ(find_node(view, kCode)->style.qrData, "mailto:?subject=Note&body=Lunch%20at%20noon");
    EXPECT_EQ(find_node(view, "App/Content/Share/Heading")->style.textColor, "#1f2328");
  }
  {
    SCOPED_TRACE("a late click on a theme button that is no longer shown");
    app.dispatch(kThemeList + "/Midnight (Ombrix)", "click");
    EXPECT_EQ(app.active_theme, "Daylight (Ombrix)");
    EXPECT_EQ(describe(app.render_patches()), Lines{});
  }
}

}  // namespace
