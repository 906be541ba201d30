#include "theme_language/engine.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "support/drelm_tree.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "theme_language/attribute.h"
#include "theme_language/file_reader.h"
#include "theme_language/layer.h"

// Allocations of at least this many bytes fail while it is not 0: memory runs
// out at one chosen place of a load, without exhausting the machine.
std::atomic<std::size_t> fail_allocations_from{0};

void* operator new(std::size_t size) {
  const std::size_t limit = fail_allocations_from.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
// The compiler sees free() meet what operator new returned, not that the
// operator new it returned from is this one, which takes from malloc().
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace Drelm {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using support::child_names;
using support::TempDir;

const std::string kStyle = std::string(OMBRIX_FIXTURES_DIR) + "/drelm/style";
const std::string kExtra = std::string(OMBRIX_FIXTURES_DIR) + "/drelm/extra";

// Collects library messages for the lifetime of a test.
class EngineTest : public testing::Test {
 protected:
  support::LogCapture capture;
};

DAttribute* attribute(const DEngine& engine, const std::string& layer, const char* name) {
  DLayer* found = engine.find_layer(layer);
  return found == nullptr ? nullptr : found->find_attribute(name);
}

std::string text(DAttribute* attribute, const Texts& active = {}) {
  return attribute == nullptr ? "<none>" : attribute->as<std::string>(active);
}

double number(DAttribute* attribute, const Texts& active = {}) {
  return attribute == nullptr ? -1.0 : attribute->as<double>(active);
}

TEST_F(EngineTest, fixture_directories_load_into_one_tree_as_the_application_loads_them) {
  DEngine engine;
  engine.load_files(kStyle + "/widgets", "Ombrix");
  EXPECT_EQ(capture.lines(),
            (Texts{
                "engine: " + kStyle + "/widgets/broken.drl: Failed to load file.",
                "lexer: " + kStyle +
                    "/widgets/broken.drl:2: Found `#` with 5 hex digits; expected 3, "
                    "4, 6, or 8 for a color: #abcde",
            }));
  engine.load_files(kStyle + "/mounts", "");
  engine.load_files(kExtra, "");
  EXPECT_EQ(capture.lines().size(), 2u);

  // Files load in path order (_parts/ sorts before base.drl); _draft.drl and broken.drl add
  // nothing.
  EXPECT_EQ(child_names(*engine.root()), (Texts{"Ombrix", "App", "Theme"}));
  DLayer* ombrix = engine.find_layer("Ombrix");
  EXPECT_EQ(child_names(*ombrix),
            (Texts{"Panel", "Control", "Small Spacer", "Large Spacer", "Button"}));
  EXPECT_EQ(engine.find_layer("Ombrix/Button")->path(), "Ombrix/Button");
  EXPECT_EQ(engine.find_layer(std::deque<std::string>{"Ombrix", "Panel", "Header"})->path(),
            "Ombrix/Panel/Header");

  // Own attributes in line order (state-set attributes before its group-set), then inherited
  // copies.
  const Texts corners{"Corner Radii.Top Left", "Corner Radii.Top Right", "Corner Radii.Bottom Left",
                      "Corner Radii.Bottom Right"};
  Texts button{"Fill",         "Label.Color", "Label.Size", "Glow",
               "Label.Shadow", "Opacity",     "Icon",       "Border Width"};
  button.insert(button.end(), corners.begin(), corners.end());
  EXPECT_EQ(child_names(*engine.find_layer("Ombrix/Button")), button);
  Texts app{"Fill", "Missing",      "Label.Color", "Label.Size",
            "Glow", "Label.Shadow", "Opacity",     "Border Width"};
  app.insert(app.end(), corners.begin(), corners.end());
  app.push_back("Icon");
  EXPECT_EQ(child_names(*engine.find_layer("App")), app);

  EXPECT_EQ(engine.find_layer("Ombrix/Button")->base_path(), "Control");
  EXPECT_EQ(engine.find_layer("Ombrix/Button")->base(), engine.find_layer("Ombrix/Control"));
  EXPECT_EQ(engine.find_layer("App")->base_path(), "Ombrix/Button");
  EXPECT_EQ(engine.find_layer("App")->base(), engine.find_layer("Ombrix/Button"));
  EXPECT_EQ(attribute(engine, "Ombrix/Control", "Corner Radii.Top Left")->link()->path,
            "Theme/Radius");
  EXPECT_EQ(attribute(engine, "App/Icon", "Size")->link()->path, "Label.Size");
  Texts keys;
  for (const auto& [key, state] :
       attribute(engine, "Ombrix/Control", "Border Width")->states(false))
    keys.push_back(key);
  EXPECT_EQ(keys, (Texts{"Focus", "Focus:Hover"}));

  engine.resolve_links();
  EXPECT_EQ(capture.lines().back(),
            "engine: unresolved link `Theme/Nothing` on attribute `App/Missing`.");
  const auto unresolved = engine.unresolved_links();
  ASSERT_EQ(unresolved.size(), 1u);
  EXPECT_EQ(unresolved[0].attribute_path, "App/Missing");
  EXPECT_EQ(unresolved[0].link_path, "Theme/Nothing");
  EXPECT_FALSE(unresolved[0].cyclic);

  // Links read through "Theme"; the extra directory's accent replaced the mounts' one.
  EXPECT_EQ(text(attribute(engine, "Ombrix/Button", "Fill")), "#ffc0392b");
  EXPECT_EQ(text(attribute(engine, "Ombrix/Button", "Fill"), {"Hover"}), "#ff4a8be5");
  EXPECT_EQ(text(attribute(engine, "Ombrix/Button", "Fill"), {"Disabled"}), "#ff808080");
  EXPECT_EQ(text(attribute(engine, "App", "Fill")), "#ff202020");
  EXPECT_EQ(text(attribute(engine, "App", "Fill"), {"Hover"}), "#ff4a8be5");
  EXPECT_EQ(text(attribute(engine, "Ombrix/Panel/Header", "Title")), "Settings");
  EXPECT_EQ(text(attribute(engine, "Ombrix/Button", "Label.Shadow"), {"Hover"}), "#ff000000");
  // The attribute's own state entry beats the state-set block of the same file.
  EXPECT_EQ(number(attribute(engine, "Ombrix/Control", "Opacity"), {"Disabled"}), 0.5);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Button", "Opacity")), 1.0);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Button", "Opacity"), {"Pressed", "Hover"}), 0.8);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Button", "Border Width"), {"Hover", "Focus"}), 3.0);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Panel", "Corner Radii.Bottom Right")), 6.0);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Small Spacer", "Size")), 8.0);
  EXPECT_EQ(number(attribute(engine, "Ombrix/Large Spacer", "Size")), 24.0);
  EXPECT_EQ(number(attribute(engine, "App/Icon", "Size")), 14.0);
  EXPECT_EQ(attribute(engine, "App/Icon", "Visible")->value(), DValue{true});
}

TEST_F(EngineTest, later_files_and_later_directory_loads_win) {
  TempDir first;
  first.write("1.drl",
              "A:\n    Size: 1\n    Gap: Theme/Gap\n    Fill: #111 @Narrow: #333\nB << A:\n"
              "    X: 1\n");
  first.write("2.drl", "A:\n    Size: 2\n    Gap: 4\n    @Narrow:\n        Fill: #555\nB\n");
  TempDir second;
  second.write("3.drl", "Space/A:\n    Size: 3\n");

  DEngine engine;
  engine.load_files(first.string(), "Space");
  EXPECT_EQ(number(attribute(engine, "Space/A", "Size")), 2.0);
  EXPECT_EQ(attribute(engine, "Space/A", "Gap")->link(), nullptr);
  EXPECT_EQ(number(attribute(engine, "Space/A", "Gap")), 4.0);
  EXPECT_EQ(text(attribute(engine, "Space/A", "Fill"), {"Narrow"}), "#ff555555");
  EXPECT_EQ(engine.find_layer("Space/B")->base_path(), "A");
  EXPECT_EQ(engine.find_layer("Space/B")->base(), engine.find_layer("Space/A"));

  engine.load_files(second.string(), "");
  EXPECT_EQ(number(attribute(engine, "Space/A", "Size")), 3.0);
  // The same namespace name reuses its layer.
  engine.load_files(second.string(), "Space");
  EXPECT_EQ(child_names(*engine.root()), (Texts{"Space"}));
  EXPECT_EQ(child_names(*engine.find_layer("Space")), (Texts{"A", "B", "Space"}));
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(EngineTest, discovery_takes_drl_files_in_every_directory_in_path_order) {
  TempDir dir;
  for (const auto& [file, layer] :
       std::vector<std::pair<std::string, std::string>>{{"a.drl", "FromA"},
                                                        {"a-b.drl", "FromAB"},
                                                        {"a/z.drl", "FromAZ"},
                                                        {"B.drl", "FromB"},
                                                        {"x.y.drl", "FromXY"},
                                                        {"_parts/part.drl", "FromPart"},
                                                        {".hidden/h.drl", "FromHidden"},
                                                        {"_base.drl", "Skipped"},
                                                        {"_parts/_draft.drl", "Skipped"},
                                                        {"x.DRL", "Skipped"},
                                                        {"x.drl.bak", "Skipped"},
                                                        {".drl", "Skipped"},
                                                        {"x.drl/inner.txt", "Skipped"}}) {
    dir.write(file, layer + ":\n    Name: \"" + file + "\"\n");
  }
  DEngine engine;
  engine.load_files(dir.string(), "");
  EXPECT_EQ(child_names(*engine.root()),
            (Texts{"FromHidden", "FromB", "FromPart", "FromAZ", "FromAB", "FromA", "FromXY"}));
  EXPECT_TRUE(capture.lines().empty());
}

// Symbolic links are followed, also out of the loaded directory; what cannot be read is
// logged and skipped, and everything else loads.
TEST_F(EngineTest, the_file_system_is_walked_once_per_directory_and_bad_entries_are_skipped) {
  using Build = std::function<void(const fs::path& root, const fs::path& style)>;
  using Lines = std::function<Texts(const std::string& style)>;
  struct FsCase {
    std::string name;
    Build build;
    Texts layers;  // children of the root after the load, in order
    Lines log;
    bool unprivileged;          // permission bits must hold, also when run as root
    std::string below;          // loaded instead of the style directory itself
    std::size_t fail_from = 0;  // allocations of this size fail during the load, when not 0
  };
  const auto file = [](const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  };
  const auto link = [](const fs::path& target, const fs::path& at) {
    fs::create_directories(at.parent_path());
    fs::create_symlink(target, at);
  };
  const std::string lexer_error =
      "Found `#` with 5 hex digits; expected 3, 4, 6, or 8 for a color: #abcde";
  // Links with long names, each to the next directory: the path grows past the
  // system's limit while every directory stays near the root.
  const std::string long_name(200, 'n');
  const auto links_past_limit = [&](const std::string& style) {
    return (PATH_MAX - style.size()) / (long_name.size() + 1) + 1;
  };
  const auto repeated = [](std::string text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
  };
  constexpr int kDiamond = 20;
  constexpr std::size_t kDeep = 1500;
  constexpr std::size_t kFailFrom = 1024 * 1024;

  const std::vector<FsCase> cases{
      {"links inside the tree, to an ancestor, to itself and out of it",
       [&](const fs::path& root, const fs::path& style) {
         file(style / "top.drl", "Top:\n    X: 1\n");
         file(style / "sub" / "inner.drl", "Inner:\n    X: 1\n");
         file(root / "outside" / "linked.drl", "Linked:\n    X: 1\n");
         link("..", style / "sub" / "up");
         link(".", style / "sub" / "self");
         link(style, style / "sub" / "root");
         link("../../outside", style / "sub" / "elsewhere");
         link("../top.drl", style / "sub" / "alias.drl");
         link("nowhere.drl", style / "dangling.drl");
       },
       {"Top", "Linked", "Inner"},
       [](const std::string& s) {
         return Texts{"engine: " + s + ": Skipped 3 paths to a directory already read, the first " +
                      s + "/sub/root (read as " + s + ")."};
       },
       false,
       ""},
      {"a diamond of links: every level reached by two paths",
       [&](const fs::path& root, const fs::path& style) {
         file(style / "top.drl", "L0:\n    X: 1\n");
         link(root / "store" / "d1", style / "a");
         link(root / "store" / "d1", style / "b");
         for (int i = 1; i <= kDiamond; ++i) {
           const fs::path level = root / "store" / ("d" + std::to_string(i));
           file(level / "layer.drl", "L" + std::to_string(i) + ":\n    X: 1\n");
           if (i == kDiamond) continue;
           link("../d" + std::to_string(i + 1), level / "a");
           link("../d" + std::to_string(i + 1), level / "b");
         }
         // Logged once per read: read twice, it would be logged twice.
         file(root / "store" / ("d" + std::to_string(kDiamond)) / "broken.drl",
              "Broken:\n    Fill: #abcde\n");
       },
       [&] {
         Texts layers;
         for (int i = kDiamond; i >= 0; --i) layers.push_back("L" + std::to_string(i));
         return layers;
       }(),
       [&](const std::string& s) {
         const std::string deepest = s + repeated("/a", kDiamond);
         return Texts{
             "engine: " + s + ": Skipped " + std::to_string(kDiamond) +
                 " paths to a directory already read, the first " + s +
                 repeated("/a", kDiamond - 1) + "/b (read as " + deepest + ").",
             "engine: " + deepest + "/broken.drl: Failed to load file.",
             "lexer: " + deepest + "/broken.drl:2: " + lexer_error,
         };
       },
       false, ""},
      {"a link to itself",
       [&](const fs::path&, const fs::path& style) {
         file(style / "good.drl", "Good:\n    X: 1\n");
         link("loop", style / "loop");
       },
       {"Good"},
       [](const std::string& s) {
         return Texts{"engine: " + s +
                      "/loop: Skipped because it could not be examined: Too many levels of "
                      "symbolic links."};
       },
       false,
       ""},
      {"a loaded directory that is a link to itself",
       [&](const fs::path&, const fs::path& style) { link("loop", style / "loop"); },
       {},
       [](const std::string& s) {
         return Texts{"engine: " + s +
                      "/loop: Skipped because it could not be examined: Too many levels of "
                      "symbolic links."};
       },
       false,
       "/loop"},
      {"a directory that cannot be listed",
       [&](const fs::path& root, const fs::path& style) {
         file(style / "good.drl", "Good:\n    X: 1\n");
         file(style / "locked" / "inner.drl", "Inner:\n    X: 1\n");
         const auto readable = fs::perms::owner_all | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec;
         for (const fs::path& path : {root.parent_path(), root, style}) {
           fs::permissions(path, readable);
         }
         fs::permissions(style / "good.drl",
                         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         fs::permissions(style / "locked", fs::perms::none);
       },
       {"Good"},
       [](const std::string& s) {
         return Texts{"engine: " + s +
                      "/locked: Skipped because it could not be listed: Permission denied."};
       },
       true,
       ""},
      {"a path longer than the system allows",
       [&](const fs::path& root, const fs::path& style) {
         file(style / "good.drl", "Good:\n    X: 1\n");
         file(root / "chain1" / "near.drl", "Near:\n    X: 1\n");
         link(root / "chain1", style / long_name);
         const std::size_t count = links_past_limit(style.string());
         for (std::size_t i = 1; i <= count; ++i) {
           const fs::path level = root / ("chain" + std::to_string(i));
           fs::create_directories(level);
           link("../chain" + std::to_string(i + 1), level / long_name);
         }
         file(root / ("chain" + std::to_string(count + 1)) / "far.drl", "Far:\n    X: 1\n");
       },
       {"Good", "Near"},
       [&](const std::string& s) {
         return Texts{"engine: " + s + repeated("/" + long_name, links_past_limit(s)) +
                      ": Skipped because it could not be examined: File name too long."};
       },
       false,
       ""},
      {"system files that read on for ever or fail, and a file just over the bound",
       [&](const fs::path&, const fs::path& style) {
         file(style / "a.drl", "A:\n    X: 1\n");
         // Regular files that report size 0: one reads about 256 GiB, one fails at once.
         link("/proc/self/pagemap", style / "b.drl");
         link("/proc/self/mem", style / "c.drl");
         file(style / "d.drl", "D:\n    X: 1\n");
         fs::resize_file(style / "d.drl", kMaxFileBytes + 1);
       },
       {"A"},
       [](const std::string& s) {
         const std::string too_large = ": Skipped because it is larger than 67108864 bytes.";
         return Texts{
             "engine: " + s + "/b.drl" + too_large,
             "engine: " + s + "/c.drl: Skipped because it could not be read: Input/output error.",
             "engine: " + s + "/d.drl" + too_large,
         };
       },
       false,
       ""},
      {"memory that runs out while one file is read and while one is lexed",
       [&](const fs::path&, const fs::path& style) {
         file(style / "a.drl", "A:\n    X: 1\n");
         // Small enough to read, but its tokens take far more than its text.
         std::string tokens = "B:\n";
         for (int i = 0; i < 20000; ++i) tokens += "    X" + std::to_string(i) + ": 1\n";
         file(style / "b.drl", tokens);
         file(style / "c.drl", "C:\n    X: 1\n");
         fs::resize_file(style / "c.drl", 2 * kFailFrom);
         file(style / "d.drl", "D:\n    X: 1\n");
       },
       {"A", "D"},
       [](const std::string& s) {
         return Texts{
             "engine: " + s +
                 "/c.drl: Skipped because it could not be read: Cannot allocate memory.",
             "engine: " + s +
                 "/b.drl: Failed to load file because of an error: Cannot allocate memory.",
         };
       },
       false,
       "",
       kFailFrom},
      {"1,500 levels of directories, left through links and through parents",
       [&](const fs::path& root, const fs::path& style) {
         file(style / "top.drl", "Top:\n    X: 1\n");
         const fs::path bottom = support::make_chain(style, "d", kDeep);
         file(style / repeated("d/", kDeep / 2) / "mid.drl", "Mid:\n    X: 1\n");
         file(bottom / "deep.drl", "Deep:\n    X: 1\n");
         file(bottom / "z.drl", "Z:\n    X: 1\n");
         link("../../..", bottom / "back");
         // Its parent is not the directory it was reached from.
         file(root / "outside" / "out.drl", "Out:\n    X: 1\n");
         file(root / "outside" / "sub" / "sub.drl", "Sub:\n    X: 1\n");
         link(root / "outside", bottom / "out");
       },
       {"Deep", "Out", "Sub", "Z", "Mid", "Top"},
       [&](const std::string& s) {
         return Texts{"engine: " + s + ": Skipped 1 path to a directory already read, the first " +
                      s + repeated("/d", kDeep) + "/back (read as " + s +
                      repeated("/d", kDeep - 3) + ")."};
       },
       false,
       ""},
      {"a FIFO and a device where source files would be",
       [&](const fs::path&, const fs::path& style) {
         file(style / "good.drl", "Good:\n    X: 1\n");
         // Opened as a file that turned into a FIFO after the listing would be.
         ASSERT_EQ(::mkfifo((style / "pipe.drl").c_str(), 0600), 0);
         link("/dev/null", style / "null.drl");
       },
       {"Good"},
       [](const std::string& s) {
         return Texts{
             "engine: " + s + "/null.drl: Skipped because it is not a regular file.",
             "engine: " + s + "/pipe.drl: Skipped because it is not a regular file.",
         };
       },
       false,
       ""},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path root = dir.path() / "tree";
    const fs::path style = root / "style";
    fs::create_directories(style);
    c.build(root, style);
    capture.lines().clear();
    DEngine engine;
    {
      // A thread with another file-system user loses the capabilities that pass
      // over permission bits; they come back with the identity.
      const bool as_root = c.unprivileged && geteuid() == 0;
      if (as_root) ::setfsuid(65534);
      DIR* listing = c.unprivileged ? ::opendir((style / "locked").c_str()) : nullptr;
      if (listing != nullptr) {
        ::closedir(listing);
        if (as_root) ::setfsuid(0);
        std::cout << "[  SKIPPED ] " << c.name << ": permission bits do not hold here\n";
        continue;
      }
      fail_allocations_from = c.fail_from;
      engine.load_files(style.string() + c.below, "");
      fail_allocations_from = 0;
      if (as_root) ::setfsuid(0);
    }
    std::error_code ignored;
    fs::permissions(style / "locked", fs::perms::owner_all, ignored);
    EXPECT_EQ(child_names(*engine.root()), c.layers);
    EXPECT_EQ(capture.lines(), c.log(style.string()));
  }
}

TEST_F(EngineTest, broken_files_and_missing_directories_are_logged_and_skipped) {
  TempDir dir;
  dir.write("1.drl", "Lexer:\n    Fill: #abcde\n    Size 12\n");
  dir.write("2.drl", "Parser:\nNext: 1\n");
  dir.write("3.drl", "Good:\n    X: 1\n");
  DEngine engine;
  engine.load_files(dir.string() + "/", "Space");
  const std::string base = dir.string() + "/";
  EXPECT_EQ(
      capture.lines(),
      (Texts{
          "engine: " + base + "1.drl: Failed to load file.",
          "lexer: " + base +
              "1.drl:2: Found `#` with 5 hex digits; expected 3, 4, 6, or 8 for a "
              "color: #abcde",
          "engine: " + base + "2.drl: Failed to load file.",
          "parser: " + base + "2.drl:1: Found unexpected line end; expected indented attributes.",
      }));
  EXPECT_EQ(child_names(*engine.find_layer("Space")), (Texts{"Good"}));

  capture.lines().clear();
  DEngine empty;
  empty.load_files(dir.string() + "/missing", "Space");
  empty.load_files(base + "3.drl", "Space");
  EXPECT_EQ(capture.lines(),
            (Texts{
                "engine: " + base +
                    "missing: Failed to read files because no directory was found at "
                    "the given path.",
                "engine: " + base +
                    "3.drl: Failed to read files because no directory was found at the "
                    "given path.",
            }));
  EXPECT_TRUE(empty.root()->children().empty());
  EXPECT_EQ(empty.find_layer("Space"), nullptr);
  EXPECT_EQ(empty.find_layer(""), nullptr);
  EXPECT_EQ(empty.find_layer(std::deque<std::string>{}), nullptr);
  EXPECT_EQ(engine.find_layer("Nope/Good"), nullptr);
}

TEST_F(EngineTest, a_file_that_cannot_be_opened_is_logged_and_skipped) {
  TempDir dir;
  dir.write("good.drl", "Good:\n    X: 1\n");
  const fs::path locked = dir.path() / "locked.drl";
  if (geteuid() != 0) {
    dir.write("locked.drl", "Locked:\n    X: 1\n");
    fs::permissions(locked, fs::perms::none);
  } else {
    // Permission bits do not stop root; a write-only kernel setting still refuses reading.
    fs::create_symlink("/proc/sys/vm/drop_caches", locked);
  }
  if (!fs::is_regular_file(locked) || std::ifstream(locked).is_open()) {
    GTEST_SKIP() << "no regular file that refuses reading is available here";
  }
  DEngine engine;
  testing::internal::CaptureStderr();
  engine.load_files(dir.string(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(child_names(*engine.root()), (Texts{"Good"}));
  EXPECT_EQ(capture.lines(), (Texts{"engine: " + locked.string() +
                                    ": Skipped because it could not be read: Permission denied."}));
}

TEST_F(EngineTest, unresolved_links_lists_links_without_target_in_tree_order) {
  TempDir dir;
  dir.write("links.drl", "A:\n    X: B/Y\n    Z: 1 @Hover: Theme/Q\nB:\n    Y: A/X\n");
  DEngine engine;
  engine.load_files(dir.string(), "");
  auto before = engine.unresolved_links();
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before[0].attribute_path, "A/X");
  EXPECT_EQ(before[1].attribute_path, "A/Z.Hover");
  EXPECT_EQ(before[1].link_path, "Theme/Q");
  EXPECT_EQ(before[2].attribute_path, "B/Y");
  for (const auto& link : before) EXPECT_FALSE(link.cyclic);

  engine.resolve_links();
  auto after = engine.unresolved_links();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].attribute_path, "A/Z.Hover");
  EXPECT_FALSE(after[0].cyclic);
  EXPECT_EQ(after[1].attribute_path, "B/Y");
  EXPECT_TRUE(after[1].cyclic);
  EXPECT_EQ(capture.lines(), (Texts{"engine: unresolved link `Theme/Q` on attribute `A/Z.Hover`.",
                                    "engine: cyclic link `A/X` on attribute `B/Y`."}));
}

}  // namespace
}  // namespace Drelm
