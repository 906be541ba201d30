#include "app_model/theme.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app_model/internal/app_internal.h"
#include "benchmarks/collisions.h"

namespace {

using Drelm::DValue;
using Json = nlohmann::ordered_json;
using Ombrix::OTheme;

OTheme theme(const char* body) { return OTheme("Night", Json::parse(body)); }

TEST(OTheme, body_members_become_values_of_their_json_kind) {
  const OTheme t = theme(R"({
      "Primary": "#ff36393f", "Size": 3, "Big": 18446744073709551615, "Half": -0.5,
      "Round": true, "None": null, "List": [1, 2], "Nested": {"a": 1}, "Primary2": ""})");
  EXPECT_EQ(t.name, "Night");
  EXPECT_EQ(t.values.size(), 9u);
  EXPECT_EQ(*t.value("Primary"), DValue{std::string("#ff36393f")});
  EXPECT_EQ(*t.value("Size"), DValue{3.0});
  EXPECT_EQ(*t.value("Big"), DValue{18446744073709551615.0});
  EXPECT_EQ(*t.value("Half"), DValue{-0.5});
  EXPECT_EQ(*t.value("Round"), DValue{true});
  EXPECT_EQ(*t.value("None"), DValue{});
  EXPECT_EQ(*t.value("List"), DValue{});
  EXPECT_EQ(*t.value("Nested"), DValue{});
  EXPECT_EQ(t.value("Missing"), nullptr);

  EXPECT_EQ(t.color("Primary"), "#ff36393f");
  EXPECT_EQ(t.color("Size"), "");
  EXPECT_EQ(t.color("Round"), "");
  EXPECT_EQ(t.color("None"), "");
  EXPECT_EQ(t.color("Missing"), "");

  // A body that is not an object gives a theme with a name and nothing else.
  for (const char* scalar : {"\"text\"", "12", "true", "null", "[{\"Primary\": \"#fff\"}]"}) {
    SCOPED_TRACE(scalar);
    const OTheme bare = theme(scalar);
    EXPECT_EQ(bare.name, "Night");
    EXPECT_TRUE(bare.values.empty());
    EXPECT_EQ(bare.display_id(), "Night");
  }
}

TEST(OTheme, meta_fills_publisher_uuid_and_type_only_from_strings) {
  struct Case {
    const char* body;
    const char* publisher;
    const char* uuid;
    const char* type;
    const char* display_id;
  };
  const Case cases[] = {
      {R"({"Primary": "#fff"})", "", "", "", "Night"},
      {R"({"_meta": {"uuid": "u-1"}})", "", "u-1", "", "Night (u-1)"},
      {R"({"_meta": {"publisher": "Acme", "uuid": "u-1", "type": "dark", "x": 1}})", "Acme", "u-1",
       "dark", "Night (Acme)"},
      {R"({"_meta": {"publisher": 7, "uuid": null, "type": ["dark"]}})", "", "", "", "Night"},
      {R"({"_meta": {"publisher": "", "uuid": "u-2"}})", "", "u-2", "", "Night (u-2)"},
      {R"({"_meta": "Acme"})", "", "", "", "Night"},
      {R"({"_meta": ["Acme"]})", "", "", "", "Night"},
      {R"({"_meta": null})", "", "", "", "Night"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const OTheme t = theme(c.body);
    EXPECT_EQ(t.publisher, c.publisher);
    EXPECT_EQ(t.uuid, c.uuid);
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.display_id(), c.display_id);
    EXPECT_EQ(t.value("_meta"), nullptr);
  }
  EXPECT_EQ(OTheme("", Json::object()).display_id(), "");
}

TEST(OTheme, legacy_gradient_expands_into_four_keys_and_the_later_member_wins) {
  OTheme t = theme(R"({"Gradient": ["0:#ff000000", " 100:#ff:ff:ff"]})");
  EXPECT_EQ(t.value("Gradient"), nullptr);
  EXPECT_EQ(*t.value("Gradient.Start"), DValue{0.0});
  EXPECT_EQ(*t.value("Gradient.Start Color"), DValue{std::string("#ff000000")});
  EXPECT_EQ(*t.value("Gradient.End"), DValue{100.0});
  EXPECT_EQ(*t.value("Gradient.End Color"), DValue{std::string("#ff:ff:ff")});

  // Positions read as strtod does: longest numeric prefix, 0 without one.
  t = theme(R"({"Gradient": ["x:#a", "0.5px:"]})");
  EXPECT_EQ(*t.value("Gradient.Start"), DValue{0.0});
  EXPECT_EQ(*t.value("Gradient.End"), DValue{0.5});
  EXPECT_EQ(*t.value("Gradient.End Color"), DValue{std::string("")});

  t = theme(R"({"Gradient": ["0:#a", "1:#b"], "Gradient.End": 0.75})");
  EXPECT_EQ(*t.value("Gradient.End"), DValue{0.75});
  t = theme(R"({"Gradient.End": 0.75, "Gradient": ["0:#a", "1:#b"]})");
  EXPECT_EQ(*t.value("Gradient.End"), DValue{1.0});

  // Anything else is stored under "Gradient" as it is, and no key is written.
  const char* invalid[] = {
      R"({"Gradient": ["0:#a", "1:#b", "2:#c"]})",
      R"({"Gradient": ["0:#a", "1#b"]})",
      R"({"Gradient": ["0#a", "1:#b"]})",
      R"({"Gradient": ["0:#a", 1]})",
      R"({"Gradient": []})",
  };
  for (const char* body : invalid) {
    SCOPED_TRACE(body);
    t = theme(body);
    ASSERT_NE(t.value("Gradient"), nullptr);
    EXPECT_EQ(*t.value("Gradient"), DValue{});
    EXPECT_EQ(t.value("Gradient.Start"), nullptr);
    EXPECT_EQ(t.value("Gradient.End"), nullptr);
    EXPECT_EQ(t.value("Gradient.End Color"), nullptr);
  }
  t = theme(R"({"Gradient": "0:#a,1:#b"})");
  EXPECT_EQ(*t.value("Gradient"), DValue{std::string("0:#a,1:#b")});

  // A bad second stop leaves values written earlier alone.
  Ombrix::ThemeValues values{{"Gradient.Start", DValue{0.3}}};
  EXPECT_FALSE(Ombrix::expand_legacy_gradient(Json::parse(R"(["0:#a", "nope"])"), values));
  EXPECT_EQ(values.size(), 1u);
  EXPECT_EQ(values["Gradient.Start"], DValue{0.3});
}

// The reading that parse_theme_json had before it built themes without
// ordered_json's search per key: the reference the new reading must match.
bool old_reading(const std::string& text, OTheme& out) {
  try {
    const auto root = Json::parse(text);
    std::string name;
    const Json* body = &root;
    if (root.is_object()) {
      if (root.empty()) return false;
      name = root.begin().key();
      body = &root.begin().value();
    } else if (root.is_array()) {
      if (root.empty()) return false;
      name = "0";
      body = &root.front();
    } else if (root.is_null()) {
      return false;
    }
    out = OTheme(name, *body);
    return true;
  } catch (...) {
    return false;
  }
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(OTheme, themes_read_as_ordered_json_read_them_with_repeated_keys_and_many_members) {
  std::vector<std::string> texts;
  const std::filesystem::path fixtures = OMBRIX_FIXTURES_DIR;
  for (const auto& dir : {fixtures, fixtures / ".." / ".." / "examples" / "demo"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.path().extension() == ".json") texts.push_back(read_text(entry.path()));
    }
  }
  ASSERT_GE(texts.size(), 10u);
  // A repeated key keeps its first place and takes its last value, at every
  // level: which legacy gradient or explicit stop wins depends on the place.
  texts.push_back(R"({"A": {"Gradient.End": 5, "Gradient": ["0:#a", "1:#b"], "Gradient.End": 7,
      "_meta": {"uuid": "u1", "uuid": "u2"}, "Primary": "#1", "Primary": 2},
      "B": {}, "A": {"Primary": "#3", "Gradient": 1, "Gradient": ["0:#c", "2:#d"],
      "Gradient.Start": 9}})");
  texts.push_back(R"([{"Primary": "#1"}, 2])");
  texts.push_back(R"("text")");
  texts.push_back(R"({"A": {"x": 1}} trailing)");
  texts.push_back(R"({"A": {"x": 1e999}})");
  // Many members, repeated ones among them, past the index's threshold.
  std::string wide = R"({"Wide": {)";
  for (int i = 0; i < 2000; ++i) {
    if (i > 0) wide += ", ";
    wide += "\"K" + std::to_string(i % 700) + "\": " + std::to_string(i);
    if (i % 333 == 0) wide += R"(, "Gradient.End": 4, "Gradient": ["0:#e", "3:#f"])";
  }
  texts.push_back(wide + "}}");
  // Keys sharing one value of the standard string hash, repeated ones among
  // them, in the body and in an object nested in it.
  const std::vector<std::string> shared = bench::names_colliding_in_std_hash(150);
  std::string colliding = R"({"Shared": {"Nested": {)";
  for (std::size_t i = 0; i < 300; ++i) {
    colliding += (i > 0 ? ", \"" : "\"") + shared[i % 150] + "\": " + std::to_string(i);
  }
  colliding += "}";
  for (std::size_t i = 0; i < 300; ++i) {
    colliding += ", \"" + shared[(i * 7) % 150] + "\": " + std::to_string(i);
  }
  texts.push_back(colliding + "}}");
  for (const auto& text : texts) {
    SCOPED_TRACE(text.substr(0, 200));
    OTheme old_theme;
    OTheme new_theme;
    const bool old_ok = old_reading(text, old_theme);
    ASSERT_EQ(Ombrix::parse_theme_json(text, new_theme), old_ok);
    if (!old_ok) continue;
    EXPECT_EQ(new_theme.name, old_theme.name);
    EXPECT_EQ(new_theme.publisher, old_theme.publisher);
    EXPECT_EQ(new_theme.uuid, old_theme.uuid);
    EXPECT_EQ(new_theme.type, old_theme.type);
    EXPECT_EQ(new_theme.values, old_theme.values);
  }
}

}  // namespace
