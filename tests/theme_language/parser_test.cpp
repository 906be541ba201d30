#include "theme_language/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "theme_language/lexer.h"
#include "theme_language/parse_tree.h"

namespace Drelm {
namespace {

struct Parsed {
  DLayerNode root;
  std::vector<std::string> lexer_errors;
  std::vector<std::string> errors;  // the parser's
};

std::vector<std::string> format(const std::vector<DError>& errors) {
  std::vector<std::string> out;
  for (const auto& error : errors) out.push_back(std::to_string(error.line) + ": " + error.message);
  return out;
}

Parsed parse_tokens(const std::vector<DToken>& tokens) {
  DParser parser(tokens);
  Parsed parsed;
  parsed.root = parser.parse_file();
  parsed.errors = format(parser.errors());
  return parsed;
}

Parsed parse(const std::string& source) {
  DLexer lexer(source);
  Parsed parsed = parse_tokens(lexer.build_tokens());
  parsed.lexer_errors = format(lexer.errors());
  return parsed;
}

std::vector<std::vector<std::string>> parts(const DName& name) { return name.parts; }

const DReference& reference(const DExpression& expression) {
  return std::get<DReference>(expression);
}

const DLiteral& literal(const DExpression& expression) { return std::get<DLiteral>(expression); }

struct ErrorCase {
  std::string source;
  std::vector<std::string> errors;
};

void expect_parse_errors(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const Parsed parsed = parse(c.source);
    EXPECT_TRUE(parsed.lexer_errors.empty());
    EXPECT_EQ(parsed.errors, c.errors);
  }
}

TEST(Parser, every_diagnostic_is_reported_with_its_line) {
  expect_parse_errors({
      {"@Hover\n  Fill: #fff\n",
       {"1: Found unexpected line end; expected `:` after state-set states."}},
      {"Button << :\n  Fill: #fff\n", {"1: Found unexpected `:`; expected reference after `<<`."}},
      {"\nPanel Fill #fff\n",
       {"2: Found unexpected `#fff`; expected line end after layer declaration."}},
      {"Panel.Fill.\n", {"1: Found unexpected `.`; expected line end after layer declaration."}},
      {"Panel:\nFill: #fff\n", {"1: Found unexpected line end; expected indented attributes."}},
      {"@Hover:\n  Fill #fff\n",
       {"2: Found unexpected `#fff`; expected a colon `:` after attribute declaration."}},
      {"Colors.\n  Primary\n",
       {"2: Found unexpected line end; expected a colon `:` after attribute declaration."}},
      {"Fill: #fff @Hover: #000 x\n",
       {"1: Found unexpected `x`; expected a line end after inline states."}},
      {"Fill: #fff\n  @Hover: #000\n  Other: 1\n",
       {"3: Found unexpected `Other`; expected dedent to close block of states."}},
      {"Fill: #fff \"x\"\n", {"1: Found unexpected `\"x\"`; expected a line end after attribute."}},
      {"Fill: #fff @Hover #000\n",
       {"1: Found unexpected `#000`; expected `:` after state's state names."}},
      {"Fill: #fff @: #000\n", {"1: Found unexpected `:`; expected a state name."}},
      {"Fill: #fff @Hover&: #000\n", {"1: Found unexpected `:`; expected a state name."}},
      {"Button (A, B: 1\n", {"1: Found unexpected `:`; expected `)` to close the expansion."}},
      {"Fill: )\n", {"1: Found `)` where expression was expected."}},
      {"Fill: @Hover: 1\n", {"1: Found `@` where expression was expected."}},
      {"Size: 1" + std::string(400, '0') + "\n",
       {"1: Found `1" + std::string(400, '0') + "`; this number is too large to represent."}},
      {"Text: \"a\\qb\"\n", {"1: Found unknown escape `\\q`; expected \\\", \\\\, \\n, or \\t."}},
      {"Button (A, A): 1\n", {"1: Found duplicate expansion alternative `A`."}},
      // Repeats in a long list, past the few searched in place.
      {[] {
         std::string list = "Button (a0";
         for (int i = 1; i < 30; ++i) list += ", a" + std::to_string(i);
         return list + ", a3, a30, a29, a30): 1\n";
       }(),
       {"1: Found duplicate expansion alternative `a3`.",
        "1: Found duplicate expansion alternative `a29`.",
        "1: Found duplicate expansion alternative `a30`."}},
      {"Colors.Primary/Other: 1\n", {"1: Found `/` after `.`; traversal must precede grouping."}},
      {"Fill: Theme/(A, B)\n",
       {"1: Found expansion in reference; expansions are only allowed in declaration names."}},
      {"Colors.\n  A/B: 1\n", {"2: Found invalid traversal in group-set attribute declaration."}},
      {"Colors.\n  A.B: 1\n", {"2: Found invalid group in group-set attribute declaration."}},
      {"@Hover:\n  Fill: 1 @Pressed: 2\n",
       {"2: Found invalid inline state in state-set attribute."}},
      {"@Hover:\n  Colors.\n    Fill: 1 @Pressed: 2\n",
       {"3: Found invalid inline state in group-set attribute within a state-set."}},
      {")\n", {"1: Expected a name."}},
      {"Colors.\n  : 1\n", {"2: Expected an attribute name."}},
      {".Fill: 1\n", {"1: Expected a name in group."}},
      {"/Fill: 1\n", {"1: Expected a name in traversal."}},
      {"A/ /Fill: 1\n", {"1: Expected a name in traversal."}},
      {"Fill: Theme/\n", {"1: Expected a name in reference."}},
      {"Fill: Colors.\n", {"1: Expected a name in reference."}},
  });

  // Only a hand-made token list can end a block without its dedent or hold a
  // number the lexer would not build.
  const std::vector<DToken> open_block = {
      {"Panel", DTokenType::WORD, 1}, {":", DTokenType::COLON, 1},
      {"\n", DTokenType::NEWLINE, 1}, {"  ", DTokenType::INDENT, 2},
      {"Fill", DTokenType::WORD, 2},  {":", DTokenType::COLON, 2},
      {"1", DTokenType::NUMBER, 2},   {"\n", DTokenType::NEWLINE, 2},
      {"", DTokenType::ENDFILE, 3}};
  EXPECT_EQ(parse_tokens(open_block).errors,
            (std::vector<std::string>{
                "3: Found unexpected end of file; expected dedent to close layer definition."}));
  // A block's item runs once even when the block is empty; an item that
  // consumes nothing is reported and skipped.
  const std::vector<DToken> empty_block = {
      {"Panel", DTokenType::WORD, 1}, {":", DTokenType::COLON, 1}, {"\n", DTokenType::NEWLINE, 1},
      {"  ", DTokenType::INDENT, 2},  {"", DTokenType::DEDENT, 2}, {"", DTokenType::ENDFILE, 2}};
  EXPECT_EQ(parse_tokens(empty_block).errors,
            (std::vector<std::string>{
                "2: Expected a name.",
                "2: Found unexpected end of file; expected dedent to close layer definition."}));
  const std::vector<DToken> cut_block = {{"Colors", DTokenType::WORD, 1},
                                         {".", DTokenType::DOT, 1},
                                         {"\n", DTokenType::NEWLINE, 1},
                                         {"  ", DTokenType::INDENT, 2},
                                         {"", DTokenType::ENDFILE, 2}};
  EXPECT_EQ(
      parse_tokens(cut_block).errors,
      (std::vector<std::string>{
          "2: Expected an attribute name.",
          "2: Found unexpected end of file; expected a colon `:` after attribute declaration.",
          "2: Failed to progress parsing group-set; proceeding unconditionally.",
          "2: Found unexpected end of file; expected dedent to close group-set."}));
  const std::vector<DToken> bad_number = {{"Size", DTokenType::WORD, 1},
                                          {":", DTokenType::COLON, 1},
                                          {"1x", DTokenType::NUMBER, 1},
                                          {"\n", DTokenType::NEWLINE, 1},
                                          {"", DTokenType::ENDFILE, 2}};
  EXPECT_EQ(parse_tokens(bad_number).errors,
            (std::vector<std::string>{"1: Found `1x` where number was expected."}));
}

TEST(Parser, recovery_decides_which_diagnostics_a_broken_file_yields) {
  // A stray token skips its own line only.
  Parsed stray = parse(")\nFill: 1\n");
  EXPECT_EQ(stray.errors, (std::vector<std::string>{"1: Expected a name."}));
  ASSERT_EQ(stray.root.attributes.size(), 1u);
  EXPECT_EQ(parts(stray.root.attributes[0].declaration.name),
            (std::vector<std::vector<std::string>>{{"Fill"}}));

  // A missing body leaves the next line to be a statement of its own.
  Parsed bodiless = parse("Panel:\nFill: #fff\n");
  ASSERT_EQ(bodiless.root.layer_nodes.size(), 1u);
  EXPECT_TRUE(bodiless.root.layer_nodes[0].attributes.empty());
  EXPECT_EQ(bodiless.root.attributes.size(), 1u);

  // A state-set header without ":" still has its block parsed.
  Parsed header = parse("@Hover\n  Fill: #fff\nSize: 2\n");
  ASSERT_EQ(header.root.state_sets.size(), 1u);
  EXPECT_EQ(header.root.state_sets[0].attributes.size(), 1u);
  EXPECT_EQ(header.root.attributes.size(), 1u);

  // A bad indented state reports twice and skips the rest of its block, but the
  // statements after it parse.
  Parsed states = parse("Fill: #fff\n  @Hover: #000 x\n  @Pressed: #111\nSize: 2\n");
  EXPECT_EQ(states.errors,
            (std::vector<std::string>{
                "2: Found unexpected `x`; expected a line end after indented state.",
                "2: Found unexpected `x`; expected dedent to close block of states."}));
  ASSERT_EQ(states.root.attributes.size(), 2u);
  EXPECT_EQ(states.root.attributes[0].states.size(), 1u);

  // Attributes refused inside a state-set are dropped; their neighbours stay.
  Parsed refused = parse("@Hover:\n  Fill: 1 @Pressed: 2\n  Size: 3\n");
  ASSERT_EQ(refused.root.state_sets.size(), 1u);
  ASSERT_EQ(refused.root.state_sets[0].attributes.size(), 1u);
  EXPECT_EQ(parts(refused.root.state_sets[0].attributes[0].declaration.name),
            (std::vector<std::vector<std::string>>{{"Size"}}));

  // A missing value skips the line, the attribute is still kept.
  Parsed no_value = parse("Fill: , 1\nSize: 2\n");
  EXPECT_EQ(no_value.errors,
            (std::vector<std::string>{"1: Found `,` where expression was expected."}));
  EXPECT_EQ(no_value.root.attributes.size(), 2u);

  // An unexpected deeper line in a block is skipped, and its dedent closes the
  // block early; the remaining dedent is reported at file level, not a hang.
  Parsed deeper = parse("Panel:\n  Inner\n    Size: 2\n  Other: 3\n");
  EXPECT_EQ(deeper.errors,
            (std::vector<std::string>{"3: Expected a name.", "5: Expected a name."}));
  ASSERT_EQ(deeper.root.layer_nodes.size(), 1u);
  EXPECT_EQ(deeper.root.layer_nodes[0].layer_nodes.size(), 1u);
  EXPECT_EQ(deeper.root.attributes.size(), 1u);
  // After an attribute the deeper line is its block of states instead, which
  // is skipped whole; the layer's next attribute still belongs to it.
  Parsed after_value = parse("Panel:\n  Fill: 1\n    Size: 2\n  Other: 3\n");
  EXPECT_EQ(after_value.errors,
            (std::vector<std::string>{
                "3: Found unexpected `Size`; expected dedent to close block of states."}));
  ASSERT_EQ(after_value.root.layer_nodes.size(), 1u);
  EXPECT_EQ(after_value.root.layer_nodes[0].attributes.size(), 2u);

  // Lexer error tokens reach the parser as "error".
  EXPECT_EQ(parse("Fill: $\n").errors,
            (std::vector<std::string>{"1: Found error where expression was expected."}));
  EXPECT_EQ(parse("Fill: \"abc\nSize: 2\n").errors,
            (std::vector<std::string>{"1: Found error where expression was expected."}));
}

TEST(Parser, statements_become_layers_attributes_state_sets_and_group_sets) {
  const Parsed parsed = parse(
      "Fill: #fff\n"
      "Panel:\n"
      "  Size: 2\n"
      "  Inner\n"
      "Bare\n"
      "Button << Theme/Base:\n"
      "  Radius: 4\n"
      "@Hover & Pressed:\n"
      "  Fill: Colors.Primary\n"
      "  Colors.\n"
      "    Accent: #000\n"
      "Corner Radii.\n"
      "  Top Left: 3 @Narrow: 1 @Wide&Tall: 5\n"
      "Opacity: 1\n"
      "  @Hover: 0.5\n"
      "  @Pressed: 0.25\n");
  EXPECT_TRUE(parsed.lexer_errors.empty());
  EXPECT_TRUE(parsed.errors.empty());
  const DLayerNode& root = parsed.root;
  EXPECT_TRUE(root.declaration.name.parts.empty());
  EXPECT_FALSE(root.inherits.has_value());

  ASSERT_EQ(root.attributes.size(), 2u);
  EXPECT_EQ(std::get<DColor>(literal(root.attributes[0].value)).red, 0xffu);
  EXPECT_EQ(root.attributes[0].declaration.name.line, 1u);

  ASSERT_EQ(root.layer_nodes.size(), 3u);
  const DLayerNode& panel = root.layer_nodes[0];
  EXPECT_EQ(panel.attributes.size(), 1u);
  ASSERT_EQ(panel.layer_nodes.size(), 1u);
  EXPECT_EQ(parts(panel.layer_nodes[0].declaration.name),
            (std::vector<std::vector<std::string>>{{"Inner"}}));
  EXPECT_TRUE(root.layer_nodes[1].attributes.empty());
  const DLayerNode& button = root.layer_nodes[2];
  ASSERT_TRUE(button.inherits.has_value());
  EXPECT_EQ(button.inherits->traversal, (std::vector<std::string>{"Theme"}));
  EXPECT_EQ(button.inherits->name, "Base");
  EXPECT_EQ(button.attributes.size(), 1u);

  ASSERT_EQ(root.state_sets.size(), 1u);
  const DStateSet& set = root.state_sets[0];
  EXPECT_EQ(set.conditions, (std::vector<std::string>{"Hover", "Pressed"}));
  ASSERT_EQ(set.attributes.size(), 1u);
  EXPECT_EQ(reference(set.attributes[0].value).group, "Colors");
  EXPECT_EQ(reference(set.attributes[0].value).name, "Primary");
  ASSERT_EQ(set.group_sets.size(), 1u);
  EXPECT_EQ(set.group_sets[0].attributes.size(), 1u);

  ASSERT_EQ(root.group_sets.size(), 1u);
  const DGroupSet& radii = root.group_sets[0];
  EXPECT_EQ(parts(radii.declaration.group),
            (std::vector<std::vector<std::string>>{{"Corner"}, {"Radii"}}));
  EXPECT_TRUE(radii.declaration.name.parts.empty());
  EXPECT_EQ(radii.declaration.name.line, 12u);
  ASSERT_EQ(radii.attributes.size(), 1u);
  const DAttributeNode& top_left = radii.attributes[0];
  EXPECT_EQ(parts(top_left.declaration.name),
            (std::vector<std::vector<std::string>>{{"Top"}, {"Left"}}));
  ASSERT_EQ(top_left.states.size(), 2u);
  EXPECT_EQ(top_left.states[1].conditions, (std::vector<std::string>{"Wide", "Tall"}));
  EXPECT_EQ(std::get<double>(literal(top_left.states[1].value)), 5.0);

  const DAttributeNode& opacity = root.attributes[1];
  ASSERT_EQ(opacity.states.size(), 2u);
  EXPECT_EQ(opacity.states[0].conditions, (std::vector<std::string>{"Hover"}));
  EXPECT_EQ(std::get<double>(literal(opacity.states[1].value)), 0.25);
}

TEST(Parser, names_references_and_literals) {
  const Parsed parsed = parse(
      "(Primary, Secondary) Button: 1\n"
      "Check Box: false\n"
      "(a, a, b c, ) x: true\n"
      "Link: Theme/Colors/Group.Primary\n"
      "Text: \"a\\\"b\\\\c\\nd\\te\\q\"\n"
      "Colors: #abc #abcd #123456 #0A0B0C0D\n"
      "Colors: -12.5 @A: 007 @B: \"\" @C: #AbC @D: X (y, z) W\n");
  EXPECT_EQ(parsed.errors,
            (std::vector<std::string>{
                "3: Found duplicate expansion alternative `a`.",
                "5: Found unknown escape `\\q`; expected \\\", \\\\, \\n, or \\t.",
                "6: Found unexpected `#abcd`; expected a line end after attribute.",
                "7: Found expansion in reference; expansions are only allowed in declaration "
                "names."}));
  const auto& attributes = parsed.root.attributes;
  ASSERT_EQ(attributes.size(), 7u);
  EXPECT_EQ(parts(attributes[0].declaration.name),
            (std::vector<std::vector<std::string>>{{"Primary", "Secondary"}, {"Button"}}));
  EXPECT_EQ(parts(attributes[1].declaration.name),
            (std::vector<std::vector<std::string>>{{"Check"}, {"Box"}}));
  EXPECT_EQ(std::get<bool>(literal(attributes[1].value)), false);
  EXPECT_EQ(parts(attributes[2].declaration.name),
            (std::vector<std::vector<std::string>>{{"a", "b c", ""}, {"x"}}));
  EXPECT_EQ(std::get<bool>(literal(attributes[2].value)), true);

  const DReference& link = reference(attributes[3].value);
  EXPECT_EQ(link.traversal, (std::vector<std::string>{"Theme", "Colors"}));
  EXPECT_EQ(link.group, "Group");
  EXPECT_EQ(link.name, "Primary");

  EXPECT_EQ(std::get<std::string>(literal(attributes[4].value)), "a\"b\\c\nd\te\\q");
  EXPECT_EQ(to_string(std::get<DColor>(literal(attributes[5].value))), "#ffaabbcc");

  const DAttributeNode& mixed = attributes[6];
  EXPECT_EQ(std::get<double>(literal(mixed.value)), -12.5);
  ASSERT_EQ(mixed.states.size(), 4u);
  EXPECT_EQ(std::get<double>(literal(mixed.states[0].value)), 7.0);
  EXPECT_EQ(std::get<std::string>(literal(mixed.states[1].value)), "");
  EXPECT_EQ(to_string(std::get<DColor>(literal(mixed.states[2].value))), "#ffaabbcc");
  EXPECT_EQ(reference(mixed.states[3].value).name, "X y W");

  // Every colour length fills the four channels in order.
  struct ColorCase {
    std::string digits;
    DColor color;
  };
  const ColorCase colors[] = {{"abc", {0xff, 0xaa, 0xbb, 0xcc}},
                              {"abcd", {0xaa, 0xbb, 0xcc, 0xdd}},
                              {"123456", {0xff, 0x12, 0x34, 0x56}},
                              {"0A0B0C0D", {0x0a, 0x0b, 0x0c, 0x0d}}};
  for (const auto& c : colors) {
    SCOPED_TRACE(c.digits);
    const Parsed one = parse("Fill: #" + c.digits + "\n");
    const DColor color = std::get<DColor>(literal(one.root.attributes.at(0).value));
    EXPECT_EQ(color.alpha, c.color.alpha);
    EXPECT_EQ(color.red, c.color.red);
    EXPECT_EQ(color.green, c.color.green);
    EXPECT_EQ(color.blue, c.color.blue);
  }
}

TEST(Parser, only_endfile_gives_an_empty_root) {
  const Parsed parsed = parse("// nothing here\n\n");
  EXPECT_TRUE(parsed.errors.empty());
  EXPECT_TRUE(parsed.root.layer_nodes.empty());
  EXPECT_TRUE(parsed.root.attributes.empty());
  EXPECT_TRUE(parsed.root.group_sets.empty());
  EXPECT_TRUE(parsed.root.state_sets.empty());
  // A list without its ENDFILE is closed rather than read past its end.
  EXPECT_TRUE(parse_tokens({}).errors.empty());
  EXPECT_EQ(parse_tokens({{"a", DTokenType::WORD, 1}}).root.layer_nodes.size(), 1u);
}

// depth layers, each the body of the one before, the last holding an attribute.
std::string nested_layers(std::size_t depth) {
  std::string source;
  for (std::size_t i = 0; i < depth; ++i) source += std::string(i, ' ') + "L:\n";
  return source + std::string(depth, ' ') + "Fill: 1\n" + "After: 2\n";
}

std::size_t layer_depth(const DLayerNode& root) {
  std::size_t levels = 0;
  for (const DLayerNode* node = &root; !node->layer_nodes.empty(); node = &node->layer_nodes[0]) {
    ++levels;
  }
  return levels;
}

TEST(Parser, deep_nesting_parses_up_to_the_limit_and_is_refused_beyond) {
  for (const std::size_t depth : {1000u, 1024u}) {
    SCOPED_TRACE(depth);
    const Parsed parsed = parse(nested_layers(depth));
    EXPECT_TRUE(parsed.lexer_errors.empty());
    EXPECT_TRUE(parsed.errors.empty());
    EXPECT_EQ(layer_depth(parsed.root), depth);
    EXPECT_EQ(parsed.root.attributes.size(), 1u);
  }
  // One level more is skipped whole instead of growing the stack; the file's
  // remaining statements still parse.
  const Parsed deeper = parse(nested_layers(1025));
  EXPECT_EQ(deeper.errors,
            (std::vector<std::string>{
                "1026: Found layer definition nested deeper than 1024 blocks; skipping it."}));
  EXPECT_EQ(layer_depth(deeper.root), 1025u);
  EXPECT_EQ(deeper.root.attributes.size(), 1u);
}

TEST(Parser, pathological_inputs_end_in_diagnostics_not_a_crash) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    for (const std::string& source : {one, one + ":\n" + one, "A:\n  " + one + "\n    " + one}) {
      DLexer lexer(source);
      DParser parser(lexer.build_tokens());
      parser.parse_file();
    }
  }
  const std::string huge(100000, '9');
  EXPECT_EQ(parse("Size: " + huge + "\n").errors,
            (std::vector<std::string>{"1: Found `" + huge +
                                      "`; this number is too large to represent."}));
  std::string long_line = "Fill:";
  for (int i = 0; i < 100000; ++i) long_line += " @S: 1";
  const Parsed states = parse(long_line);
  EXPECT_EQ(states.errors.size(), 1u);  // the value is missing, the rest of the line skipped
  // Every kind of token soup terminates.
  const std::string soup = "@ & : ( ) , . / << \"s\" #fff 1 true x\n  )(\n    @:\n ..\n";
  for (std::size_t cut = 0; cut <= soup.size(); ++cut) parse(soup.substr(0, cut));
}

TEST(Parser, token_descriptions_and_block_names) {
  EXPECT_EQ(describe({"\"a\"", DTokenType::STRING, 1}), "`\"a\"`");
  EXPECT_EQ(describe({"<<", DTokenType::INHERIT, 1}), "`<<`");
  EXPECT_EQ(describe({"  ", DTokenType::INDENT, 1}), "indent");
  EXPECT_EQ(describe({"", DTokenType::DEDENT, 1}), "dedent");
  EXPECT_EQ(describe({"\n", DTokenType::NEWLINE, 1}), "line end");
  EXPECT_EQ(describe({"", DTokenType::ENDFILE, 1}), "end of file");
  EXPECT_EQ(describe({"$", DTokenType::ERROR, 1}), "error");
  EXPECT_EQ(describe({"?", static_cast<DTokenType>(40), 1}), "unknown");
  EXPECT_EQ(to_string(DParser::DBlockContext::LAYER_DEFINITION), "layer definition");
  EXPECT_EQ(to_string(DParser::DBlockContext::STATE_SET), "state-set");
  EXPECT_EQ(to_string(DParser::DBlockContext::GROUP_SET), "group-set");
  EXPECT_EQ(to_string(static_cast<DParser::DBlockContext>(7)), "unknown");
}

}  // namespace
}  // namespace Drelm
