#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app_model/app.h"
#include "app_model/internal/app_internal.h"
#include "app_model/internal/json_writer.h"
#include "examples/demo/wiring.h"
#include "support/files.h"
#include "support/fixture_app.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"

namespace {

using Json = nlohmann::ordered_json;
using Keys = std::vector<std::string>;
using Ombrix::OApp;
using Ombrix::RenderNode;

using support::load_app;

Keys keys(const Json& object) {
  Keys names;
  for (const auto& item : object.items()) names.push_back(item.key());
  return names;
}

const Json& child(const Json& node, const std::string& name) {
  for (const Json& c : node["children"]) {
    if (c["name"] == name) return c;
  }
  throw std::runtime_error("no child " + name);
}

TEST(Json, a_default_node_has_every_shown_style_key_in_order_and_no_text) {
  OApp app;
  app.root_name = "Nowhere";
  EXPECT_EQ(app.render_tree_json(),
            R"({"type":"box","name":"","path":"","style":{"fill":"","fillIsGradient":false,)"
            R"("borderFill":"","borderIsGradient":false,"borderThickness":0.0,"radiusTL":0.0,)"
            R"("radiusTR":0.0,"radiusBL":0.0,"radiusBR":0.0,"marginL":0.0,"marginT":0.0,)"
            R"("marginR":0.0,"marginB":0.0,"paddingL":0.0,"paddingT":0.0,"paddingR":0.0,)"
            R"("paddingB":0.0,"textColor":"","codeBg":"","fontSize":0.0,"fontWeight":0.0,)"
            R"("direction":"","spacing":0.0,"crossAlign":"","justify":"","scroll":"","grow":0.0,)"
            R"("width":0.0,"height":0.0,"maxWidth":0.0,"aspectRatio":0.0,"translateY":0.0,)"
            R"("translateX":0.0,"rotation":0.0,"opacity":1.0,"collapsed":false,"placeholder":"",)"
            R"("secret":false,"multiline":false,"iconSource":"","mediaSource":"","fit":"",)"
            R"("autoplay":false,"loop":false,"muted":false,"controls":false,"qrData":"",)"
            R"("intent":"","overlay":"","href":"","tag":"","anchor":""},"children":[]})");
}

TEST(Json, node_keys_follow_the_text_and_the_kind) {
  auto app = load_app("Render");
  const std::vector<Ombrix::ComboOption> options = {{"a", "Alpha"}, {"b", "Beta"}};
  app->combo_options["Render/Choice"] = options;
  app->combo_options["Render/Plain"] = options;
  app->combo_selected["Render/Choice"] = "b";
  app->texts["Render/Odd"] = "";
  const Json tree = Json::parse(app->render_tree_json());

  EXPECT_EQ(keys(child(tree, "Title")),
            (Keys{"type", "name", "path", "text", "style", "children"}));
  EXPECT_EQ(child(tree, "Title")["text"], "Hello");
  EXPECT_EQ(keys(child(tree, "Odd")), (Keys{"type", "name", "path", "style", "children"}));
  EXPECT_EQ(child(tree, "Odd")["style"].size(), 52u);
  EXPECT_TRUE(child(tree, "Odd")["style"]["opacity"].is_number_float());
  EXPECT_TRUE(child(tree, "Odd")["style"]["secret"].is_boolean());
  EXPECT_EQ(child(child(tree, "Plain"), "Inner")["path"], "Render/Plain/Inner");

  const Json& code = child(tree, "Code");
  EXPECT_EQ(keys(code), (Keys{"type", "name", "path", "style", "qrSize", "qrModules", "children"}));
  ASSERT_TRUE(code["qrSize"].is_number_integer());
  const int size = code["qrSize"];
  EXPECT_EQ(size, 21);
  const std::string modules = code["qrModules"];
  EXPECT_EQ(modules.size(), static_cast<std::size_t>(size * size));
  EXPECT_EQ(modules.find_first_not_of("01"), std::string::npos);

  const Json& choice = child(tree, "Choice");
  EXPECT_EQ(keys(choice),
            (Keys{"type", "name", "path", "style", "comboOptions", "comboSelected", "children"}));
  EXPECT_EQ(choice["comboOptions"].dump(),
            R"([{"id":"a","label":"Alpha"},{"id":"b","label":"Beta"}])");
  EXPECT_EQ(choice["comboSelected"], "b");
  EXPECT_EQ(keys(child(tree, "Plain")), (Keys{"type", "name", "path", "style", "children"}));

  // No data, no symbol; an empty combo box still has both keys.
  app->qr_data["Render/Code"] = "";
  app->combo_options.clear();
  app->combo_selected.clear();
  const Json empty = Json::parse(app->render_tree_json());
  EXPECT_EQ(child(empty, "Code")["qrSize"], 0);
  EXPECT_EQ(child(empty, "Code")["qrModules"], "");
  EXPECT_EQ(child(empty, "Choice")["comboOptions"], Json::array());
  EXPECT_EQ(child(empty, "Choice")["comboSelected"], "");
  // Writing the tree is no render step.
  EXPECT_EQ(app->previous_tree, nullptr);
}

TEST(Json, patch_objects_carry_the_keys_of_their_kind) {
  auto app = load_app("Page");
  app->hidden_paths.insert("Page/Body/Extra");
  const Json first = Json::parse(app->render_patches_json());
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(keys(first[0]), (Keys{"op", "parentPath", "index", "node"}));
  EXPECT_EQ(first[0]["op"], "insert");
  EXPECT_EQ(first[0]["parentPath"], "");
  EXPECT_TRUE(first[0]["index"].is_number_integer());
  EXPECT_EQ(first[0]["node"]["path"], "Page");
  EXPECT_EQ(first[0]["node"]["children"].size(), 7u);
  EXPECT_EQ(app->render_patches_json(), "[]");

  app->hidden_paths = {"Page/Agree"};
  app->texts["Page/Body"] = "changed";
  app->pending_editor_values.emplace_back("Page/Note", "hello");
  const Json patches = Json::parse(app->render_patches_json());
  ASSERT_EQ(patches.size(), 4u);
  EXPECT_EQ(patches[0].dump(), R"({"op":"remove","path":"Page/Agree"})");
  EXPECT_EQ(keys(patches[1]), (Keys{"op", "path", "node"}));
  EXPECT_EQ(patches[1]["op"], "update");
  EXPECT_EQ(patches[1]["node"]["children"], Json::array());
  EXPECT_EQ(patches[2].dump(), R"({"op":"insert","parentPath":"Page/Body","index":1,"node":)" +
                                   patches[2]["node"].dump() + "}");
  EXPECT_EQ(patches[3].dump(), R"({"op":"editorvalue","path":"Page/Note","text":"hello"})");

  app->root_name = "Other Page";
  const Json replaced = Json::parse(app->render_patches_json());
  ASSERT_FALSE(replaced.empty());
  EXPECT_EQ(keys(replaced.back()), (Keys{"op", "path", "parentPath", "node"}));
  EXPECT_EQ(replaced.back()["parentPath"], "Other Page");
  EXPECT_EQ(replaced.back()["node"]["type"], "button");
}

TEST(Json, invalid_utf8_is_written_replaced_and_the_patches_are_kept) {
  auto app = load_app("Page");
  app->render_patches_json();

  app->texts["Page/Header"] = "bad \xff byte";
  app->pending_editor_values.emplace_back("Page/Note", "\xc3");
  const std::string tree = app->render_tree_json();
  EXPECT_NE(tree.find("bad \xEF\xBF\xBD byte"), std::string::npos);

  std::string text;
  ASSERT_NO_THROW(text = app->render_patches_json());
  const Json patches = Json::parse(text);
  ASSERT_EQ(patches.size(), 2u);
  EXPECT_EQ(patches[0]["op"], "update");
  EXPECT_EQ(patches[0]["node"]["text"], "bad \xEF\xBF\xBD byte");
  EXPECT_EQ(patches[1]["text"], "\xEF\xBF\xBD");
  // The model keeps the text as given; only its written form is mended.
  EXPECT_EQ(app->previous_tree->children[0].text, "bad \xff byte");
  EXPECT_EQ(app->render_patches_json(), "[]");
}

}  // namespace

namespace {

// Draws the modules as a grey-map image with a quiet zone and reads it back
// with an independent decoder, when one is installed.
TEST(Json, qr_modules_decode_back_to_their_text) {
  if (std::system("command -v zbarimg > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "zbarimg is not installed";
  }
  auto app = load_app("Render");
  const std::string text = "Meet at noon by the fountain: 12:00, bring a map";
  app->qr_data["Render/Code"] = text;
  const Json code = child(Json::parse(app->render_tree_json()), "Code");
  const int size = code["qrSize"].get<int>();
  const std::string modules = code["qrModules"].get<std::string>();
  ASSERT_GT(size, 0);
  ASSERT_EQ(modules.size(), static_cast<std::size_t>(size) * size);

  const int scale = 6;
  const int border = 4;
  const int side = (size + 2 * border) * scale;
  const std::string image = testing::TempDir() + "/ombrix_qr.pgm";
  {
    std::ofstream out(image, std::ios::binary);
    out << "P5\n" << side << " " << side << "\n255\n";
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) {
        const int mx = x / scale - border;
        const int my = y / scale - border;
        const bool dark = mx >= 0 && my >= 0 && mx < size && my < size &&
                          modules[static_cast<std::size_t>(my) * size + mx] == '1';
        out.put(dark ? '\0' : '\xff');
      }
    }
  }
  std::string decoded;
  FILE* pipe = popen(("zbarimg -q --raw " + image + " 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) decoded += buffer;
  pclose(pipe);
  EXPECT_EQ(decoded, text + "\n");
}

}  // namespace

namespace {

// The guides under docs/ show only examples kept under docs/examples.
const std::string kDocs = std::string(OMBRIX_FIXTURES_DIR) + "/../../docs";
const std::string kExamples = kDocs + "/examples";

// The guides show each node with the style keys the example is about, not all of them.
void keep_style_keys(Json& json, const Keys& shown) {
  if (json.is_array()) {
    for (Json& item : json) keep_style_keys(item, shown);
  } else if (json.is_object()) {
    if (json.contains("style")) {
      Json style = Json::object();
      for (const auto& item : json["style"].items()) {
        if (std::find(shown.begin(), shown.end(), item.key()) != shown.end()) {
          style[item.key()] = item.value();
        }
      }
      json["style"] = std::move(style);
    }
    if (json.contains("node")) keep_style_keys(json["node"], shown);
    if (json.contains("children")) keep_style_keys(json["children"], shown);
  }
}

struct GuideStep {
  std::function<void(OApp&)> change;  // what the program does before rendering, if anything
  bool patches;                       // a render step, else the tree alone
  std::string output;                 // under docs/examples/output
};

struct GuideExample {
  std::string root;
  Keys shown;
  std::vector<GuideStep> steps;
};

TEST(Json, the_guides_examples_load_and_show_what_the_code_writes) {
  const std::vector<GuideExample> examples = {
      {"Card",
       {"fill", "marginT", "paddingL", "paddingT", "fontSize"},
       {{nullptr, false, "card.json"}}},
      {"Values",
       {"fill", "width", "translateY", "opacity", "multiline", "secret"},
       {{nullptr, false, "values.json"}}},
      {"Panels", {"fill", "paddingL"}, {{nullptr, false, "inheritance.json"}}},
      {"Tabs",
       {"fill", "paddingL", "direction"},
       {{[](OApp& app) {
           app.states.insert("Narrow");
           app.node_states["Tabs/Mail"].insert("Selected");
         },
         false, "states.json"}}},
      {"Toolbar",
       {"radiusTL", "radiusTR", "radiusBL", "radiusBR", "paddingL", "paddingR"},
       {{nullptr, false, "expansions.json"}}},
      {"Banner",
       {"fill", "fillIsGradient", "borderFill", "borderThickness", "textColor"},
       {{nullptr, false, "links.json"}}},
      {"Inbox",
       {"fill", "radiusTL", "radiusBL"},
       {{[](OApp& app) {
           app.lists["messages"] = {{"m1", {{"subject", "Welcome"}, {"unread", "1"}}},
                                    {"m2", {{"subject", "Minutes"}, {"unread", "0"}}}};
         },
         false, "inbox.json"}}},
      {"Picker",
       {"fill", "borderFill", "borderThickness", "textColor"},
       {{nullptr, false, "picker.json"}}},
      {"Share",
       {"placeholder", "qrData"},
       {{[](OApp& app) {
           app.combo_options["Share/Format"] = {{"plain", "Plain text"}, {"link", "Link"}};
           app.combo_selected["Share/Format"] = "plain";
         },
         false, "share.json"}}},
      {"Notes",
       {"fill"},
       {{[](OApp& app) { app.hidden_paths = {"Notes/Footer"}; }, true, "notes-first.json"},
        {[](OApp& app) {
           app.texts["Notes/Title"] = "Notes (2)";
           app.hidden_paths = {"Notes/Status"};
           app.pending_editor_values.emplace_back("Notes/Body", "Draft");
         },
         true, "notes-next.json"}}},
  };
  for (const GuideExample& example : examples) {
    OApp app;
    app.root_name = example.root;
    // The examples load without a single message.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(
        app.init(kExamples + "/app/themes", kExamples + "/app/styles", "Dusk (Example)", {}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (const GuideStep& step : example.steps) {
      if (step.change) step.change(app);
      Json written = Json::parse(step.patches ? app.render_patches_json() : app.render_tree_json());
      keep_style_keys(written, example.shown);
      EXPECT_EQ(written.dump(2) + "\n", support::read_bytes(kExamples + "/output/" + step.output))
          << step.output;
    }
  }

  // The broken examples, as the default log writes them, with paths relative to the examples.
  testing::internal::CaptureStdout();
  {
    Drelm::DEngine engine;
    engine.load_files(kExamples + "/errors", "");
    engine.resolve_links();
  }
  std::string log = testing::internal::GetCapturedStdout();
  for (std::size_t at; (at = log.find(kExamples + "/")) != std::string::npos;) {
    log.erase(at, kExamples.size() + 1);
  }
  EXPECT_EQ(log, support::read_bytes(kExamples + "/output/errors.log"));

  // Every example block of a guide follows a marker naming the file it is taken from.
  std::size_t blocks = 0;
  for (const char* guide : {"/theme-language.md", "/render-json.md"}) {
    std::istringstream lines(support::read_bytes(kDocs + guide));
    std::string line;
    std::string source;
    while (std::getline(lines, line)) {
      if (line.starts_with("<!-- example: ") && line.ends_with(" -->")) {
        source = line.substr(14, line.size() - 18);
        continue;
      }
      if (!line.starts_with("```")) {
        if (!line.empty()) source.clear();
        continue;
      }
      const bool code = line == "```cpp";
      std::string block;
      while (std::getline(lines, line) && line != "```") block += line + "\n";
      if (code) continue;
      ++blocks;
      EXPECT_FALSE(source.empty()) << guide << ": a block without its example file:\n" << block;
      if (!source.empty()) {
        EXPECT_NE(support::read_bytes(kExamples + "/" + source).find(block), std::string::npos)
            << guide << ": not in " << source << ":\n"
            << block;
      }
      source.clear();
    }
  }
  EXPECT_GT(blocks, 0u);
}

}  // namespace

namespace {

// The direct writer against the JSON library, which fixes the bytes.
void expect_written_alike(const RenderNode& tree) {
  EXPECT_EQ(Ombrix::node_json(tree), Ombrix::reference_node_json(tree));
}

void expect_written_alike(const std::vector<Ombrix::Patch>& patches) {
  EXPECT_EQ(Ombrix::patches_json(patches), Ombrix::reference_patches_json(patches));
}

std::string dumped(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

constexpr char kControls[] = "\0\x01\x07\x08\t\n\x0b\x0c\r\x0e\x1f \" \\ / \x7f";

// Every escape, control characters, and UTF-8 whole, cut off and broken.
const std::vector<std::string> kAwkwardTexts = {
    "",
    "plain text, long enough to be copied in runs of several bytes",
    std::string(kControls, sizeof kControls - 1),
    "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xef\xbb\xbf",
    "\xff",
    "\x80 lone continuation",
    "cut at the end \xe2\x82",
    "\xc3",
    "broken \xc3( then \xe2\x28\xa1 then \xf0\x28\x8c\x28",
    "overlong \xc0\x80 \xe0\x80\xaf surrogate \xed\xa0\x80 above \xf4\x90\x80\x80 \xf5",
    "a broken sequence before an escape \xe2\x82\n and a quote \xf0\x9f\"",
    // Six bytes out for each byte in: more than the writer reserves.
    std::string(5000, '\x01'),
};

TEST(Json, the_direct_writer_writes_the_bytes_of_the_json_library) {
  for (const std::string& text : kAwkwardTexts) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string written = "x";
    Ombrix::append_json_string(written, text);
    EXPECT_EQ(written, "x" + dumped(Json(text)));
  }
  const double kDoubles[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             16.0,
                             0.5,
                             0.1,
                             -123.456,
                             1.0 / 3.0,
                             1e-4,
                             1e-5,
                             999999999999999.0,
                             1e15,
                             -1e15,
                             123456789012345680.0,
                             1e21,
                             9007199254740993.0,
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::lowest(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  for (double value : kDoubles) {
    SCOPED_TRACE(value);
    std::string written;
    Ombrix::append_json_number(written, value);
    EXPECT_EQ(written, dumped(Json(value)));
  }

  // Every key of a node and of every kind of patch, with awkward values.
  RenderNode node;
  node.type = Ombrix::NodeType::combobox;
  node.name = kAwkwardTexts[4];
  node.path = kAwkwardTexts[9];
  node.text = kAwkwardTexts[2];
  node.style.fill = kAwkwardTexts[3];
  node.style.opacity = 0.25;
  node.style.rotation = -0.0;
  node.style.width = std::numeric_limits<double>::quiet_NaN();
  node.style.collapsed = true;
  node.comboOptions = {{"a", kAwkwardTexts[6]}, {kAwkwardTexts[7], "b"}};
  node.comboSelected = kAwkwardTexts[8];
  RenderNode code;
  code.type = Ombrix::NodeType::qr;
  code.style.qrData = "written as modules";
  node.children = {code, RenderNode()};
  expect_written_alike(node);
  std::vector<Ombrix::Patch> patches(6);
  for (std::size_t i = 0; i < patches.size(); ++i) {
    patches[i].kind = static_cast<Ombrix::PatchKind>(i);
    patches[i].path = kAwkwardTexts[i];
    patches[i].parentPath = kAwkwardTexts[i + 1];
    patches[i].index = -static_cast<std::int32_t>(i);
    patches[i].node = node;
  }
  expect_written_alike(patches);
  expect_written_alike(std::vector<Ombrix::Patch>{});
}

// Renders `app` through a series of changes, comparing every tree and patch list.
void expect_every_render_written_alike(OApp& app) {
  expect_written_alike(app.build_render_tree());
  expect_written_alike(app.render_patches());
  for (const auto& [id, theme] : app.themes) {
    app.set_active_theme(id);
    expect_written_alike(app.render_patches());
  }
  std::vector<std::string> paths;
  std::function<void(const RenderNode&)> collect = [&](const RenderNode& node) {
    paths.push_back(node.path);
    for (const RenderNode& child : node.children) collect(child);
  };
  const RenderNode tree = app.build_render_tree();
  collect(tree);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    app.texts[paths[i]] = kAwkwardTexts[i % kAwkwardTexts.size()];
    app.node_states[paths[i]].insert("Hover");
    app.pending_editor_values.emplace_back(paths[i], kAwkwardTexts[(i + 1) % kAwkwardTexts.size()]);
  }
  app.states.insert("Mobile");
  expect_written_alike(app.build_render_tree());
  expect_written_alike(app.render_patches());
  for (std::size_t i = 1; i < paths.size(); i += 2) app.hidden_paths.insert(paths[i]);
  expect_written_alike(app.render_patches());
}

TEST(Json, every_fixture_interface_and_the_demo_session_are_written_as_the_library_writes_them) {
  // Every top-level layer of the fixture interfaces as the root.
  struct Interface {
    std::string themes, styles, theme;
    std::vector<std::string> extra;
  };
  const std::string fixtures = OMBRIX_FIXTURES_DIR;
  const Interface interfaces[] = {
      {fixtures + "/app/themes", fixtures + "/app/styles", "Dusk (North)", {}},
      {fixtures + "/app_themes/themes",
       fixtures + "/app_themes/styles",
       "Light",
       {fixtures + "/app_themes/extra", fixtures + "/app_themes/ui"}},
      {kExamples + "/app/themes", kExamples + "/app/styles", "Dusk (Example)", {}},
  };
  for (const Interface& interface : interfaces) {
    std::vector<std::string> roots;
    {
      OApp probe;
      testing::internal::CaptureStdout();
      probe.init(interface.themes, interface.styles, interface.theme, interface.extra);
      testing::internal::GetCapturedStdout();
      for (const auto& layer : probe.engine().root()->children()) {
        roots.push_back(layer->object_name());
      }
    }
    ASSERT_FALSE(roots.empty()) << interface.styles;
    for (const std::string& root : roots) {
      SCOPED_TRACE(interface.styles + ": " + root);
      OApp app;
      app.root_name = root;
      testing::internal::CaptureStdout();
      app.init(interface.themes, interface.styles, interface.theme, interface.extra);
      testing::internal::GetCapturedStdout();
      expect_every_render_written_alike(app);
    }
  }

  // The demo's session, wired as the program wires it.
  const std::string demo_dir = std::string(OMBRIX_FIXTURES_DIR) + "/../../examples/demo";
  ombrix_demo::Demo demo;
  demo.themes_dir = demo_dir + "/themes";
  ombrix_demo::wire(demo);
  OApp& app = demo.app;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(app.init(demo.themes_dir, demo_dir + "/styles", "Midnight (Ombrix)", {}));
  testing::internal::GetCapturedStdout();
  expect_written_alike(app.render_patches());
  const std::pair<std::string, std::string> steps[] = {
      {ombrix_demo::kNote, "input:Lunch at noon"},
      {ombrix_demo::kFormat, "select:mail"},
      {ombrix_demo::kTabs + "Settings", "click"},
      {ombrix_demo::kThemeList + "/Daylight (Ombrix)", "click"},
      {ombrix_demo::kOpenDialog, "click"},
      {ombrix_demo::kDialog + "/Actions/Add", "click"},
      {ombrix_demo::kDialog + "/Sources/user-1/Remove", "click"},
      {ombrix_demo::kDialog + "/Actions/Close", "click"},
      {ombrix_demo::kTabs + "Share", "click"},
      {ombrix_demo::kNote, "input:\xe2\x82 \"quoted\"\n"},
  };
  for (const auto& [path, event] : steps) {
    SCOPED_TRACE(path + " " + event);
    app.dispatch(path, event);
    expect_written_alike(app.build_render_tree());
    expect_written_alike(app.render_patches());
  }
  expect_every_render_written_alike(app);
}

}  // namespace
