#include "theme_language/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Drelm {
namespace {

// "TYPE lexeme line" per token, so a whole list reads as one table.
std::vector<std::string> lex(const std::string& source) {
  DLexer lexer(source);
  std::vector<std::string> out;
  for (const auto& token : lexer.build_tokens()) {
    out.push_back(to_string(token.type) + " " + token.lexeme + " " + std::to_string(token.line));
  }
  return out;
}

std::vector<std::string> lex_errors(const std::string& source) {
  DLexer lexer(source);
  lexer.build_tokens();
  std::vector<std::string> out;
  for (const auto& error : lexer.errors()) {
    out.push_back(std::to_string(error.line) + ": " + error.message);
  }
  return out;
}

struct LexCase {
  std::string source;
  std::vector<std::string> tokens;
};

void expect_tokens(const std::vector<LexCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(lex(c.source), c.tokens);
    EXPECT_TRUE(lex_errors(c.source).empty());
  }
}

TEST(Lexer, every_diagnostic_is_reported_with_its_line) {
  struct ErrorCase {
    std::string source;
    std::vector<std::string> errors;
  };
  const std::vector<ErrorCase> cases = {
      {"a:\n\tb: 1\n", {"2: Found tab in indentation; indent with spaces instead."}},
      {"a:\n \t b: 1\n", {"2: Found tab in indentation; indent with spaces instead."}},
      // Blank and comment lines never complain about tabs.
      {"a:\n\t\n\t// c\n  b: 1\n", {}},
      {"a:\n    b: 1\n  c: 2\n",
       {"3: Found indentation mismatch; line has 2 leading spaces but 0 were expected."}},
      {"a:\n  b:\n      c: 1\n    d: 2\n",
       {"4: Found indentation mismatch; line has 4 leading spaces but 2 were expected."}},
      {"a < b\n", {"1: Found single `<`; did you mean `<<` for inheritance?"}},
      {"a: \"abc\nb: 1\n", {"1: Found non-terminated string: \"abc"}},
      {"a: \"ab\\\n", {"1: Found non-terminated string: \"ab\\"}},
      {"\n\na: \"abc", {"3: Found non-terminated string: \"abc"}},
      {std::string("a: \"a\0b\"\n", 9),
       {"1: Found non-terminated string: \"a",
        "1: Found unexpected character '" + std::string(1, '\0') + "'",
        "1: Found non-terminated string: \""}},
      {"a: #abcde\n",
       {"1: Found `#` with 5 hex digits; expected 3, 4, 6, or 8 for a color: #abcde"}},
      {"a: #", {"1: Found `#` with 0 hex digits; expected 3, 4, 6, or 8 for a color: #"}},
      {"a: #zz\n", {"1: Found `#` with 0 hex digits; expected 3, 4, 6, or 8 for a color: #"}},
      {"a: #123456789\n",
       {"1: Found `#` with 9 hex digits; expected 3, 4, 6, or 8 for a color: #123456789"}},
      {"a: $\n", {"1: Found unexpected character '$'"}},
      {"a\rb\n", {"1: Found unexpected character '\r'"}},
      {"\n\xC3\xA9\n",
       {"2: Found unexpected character '\xC3'", "2: Found unexpected character '\xA9'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(lex_errors(c.source), c.errors);
  }
}

TEST(Lexer, faults_leave_error_tokens_and_lexing_goes_on) {
  EXPECT_EQ(lex("a < b\n"), (std::vector<std::string>{"WORD a 1", "ERROR < 1", "WORD b 1",
                                                      "NEWLINE \n 1", "ENDFILE  2"}));
  // The line feed is not part of a broken string, so the NEWLINE still follows.
  EXPECT_EQ(lex("a: \"x\nb"),
            (std::vector<std::string>{"WORD a 1", "COLON : 1", "ERROR \"x 1", "NEWLINE \n 1",
                                      "WORD b 2", "NEWLINE  2", "ENDFILE  2"}));
  EXPECT_EQ(lex("#abcde x"),
            (std::vector<std::string>{"ERROR #abcde 1", "WORD x 1", "NEWLINE  1", "ENDFILE  1"}));
  EXPECT_EQ(lex("a\rb"), (std::vector<std::string>{"WORD a 1", "ERROR \r 1", "WORD b 1",
                                                   "NEWLINE  1", "ENDFILE  1"}));
}

TEST(Lexer, empty_blank_and_comment_inputs_give_only_endfile) {
  expect_tokens({
      {"", {"ENDFILE  1"}},
      {"\n\n", {"ENDFILE  3"}},
      {"   \n// only a comment\n      // indented comment\n\t\n", {"ENDFILE  5"}},
      {"a", {"WORD a 1", "NEWLINE  1", "ENDFILE  1"}},
  });
}

TEST(Lexer, indentation_becomes_indent_and_dedent_tokens) {
  expect_tokens({
      {"A:\n    b: 1",
       {"WORD A 1", "COLON : 1", "NEWLINE \n 1", "INDENT      2", "WORD b 2", "COLON : 2",
        "NUMBER 1 2", "NEWLINE  2", "DEDENT  2", "ENDFILE  2"}},
      // Blank and comment lines between statements add nothing, whatever their
      // indentation; a trailing comment ends with the content's NEWLINE.
      {"A:\n  b: 1 // note\n\n        \n      // deep comment\n  c: 2\nD\n",
       {"WORD A 1", "COLON : 1", "NEWLINE \n 1", "INDENT    2", "WORD b 2", "COLON : 2",
        "NUMBER 1 2", "NEWLINE \n 2", "WORD c 6", "COLON : 6", "NUMBER 2 6", "NEWLINE \n 6",
        "DEDENT  7", "WORD D 7", "NEWLINE \n 7", "ENDFILE  8"}},
      // Two levels closed by one line.
      {"a\n b\n  c\nd\n",
       {"WORD a 1", "NEWLINE \n 1", "INDENT   2", "WORD b 2", "NEWLINE \n 2", "INDENT    3",
        "WORD c 3", "NEWLINE \n 3", "DEDENT  4", "DEDENT  4", "WORD d 4", "NEWLINE \n 4",
        "ENDFILE  5"}},
  });
  // A mismatched line continues at the outer level; the next one at the same
  // width opens a new level.
  const std::string mismatch = "a\n    b\n  c\n  d\n";
  EXPECT_EQ(lex(mismatch),
            (std::vector<std::string>{"WORD a 1", "NEWLINE \n 1", "INDENT      2", "WORD b 2",
                                      "NEWLINE \n 2", "DEDENT    3", "WORD c 3", "NEWLINE \n 3",
                                      "INDENT    4", "WORD d 4", "NEWLINE \n 4", "DEDENT  5",
                                      "ENDFILE  5"}));
  // A tab counts as one column.
  EXPECT_EQ(lex("a\n\tb\n"),
            (std::vector<std::string>{"WORD a 1", "NEWLINE \n 1", "INDENT \t 2", "WORD b 2",
                                      "NEWLINE \n 2", "DEDENT  3", "ENDFILE  3"}));
}

TEST(Lexer, line_ends_and_byte_order_mark) {
  expect_tokens({
      {"a: 1\r\n  b: 2\r\n",
       {"WORD a 1", "COLON : 1", "NUMBER 1 1", "NEWLINE \r\n 1", "INDENT    2", "WORD b 2",
        "COLON : 2", "NUMBER 2 2", "NEWLINE \r\n 2", "DEDENT  3", "ENDFILE  3"}},
      {"\xEF\xBB\xBF"
       "a\n",
       {"WORD a 1", "NEWLINE \n 1", "ENDFILE  2"}},
      // Only a leading mark is dropped.
      {"\xEF\xBB\xBF", {"ENDFILE  1"}},
      {"a\tb", {"WORD a 1", "WORD b 1", "NEWLINE  1", "ENDFILE  1"}},
  });
  EXPECT_EQ(lex_errors("a \xEF\xBB\xBF\n").size(), 3u);
}

TEST(Lexer, booleans_numbers_and_words) {
  expect_tokens({
      {"trueX", {"BOOL true 1", "WORD X 1", "NEWLINE  1", "ENDFILE  1"}},
      {"true", {"BOOL true 1", "NEWLINE  1", "ENDFILE  1"}},
      {"t", {"WORD t 1", "NEWLINE  1", "ENDFILE  1"}},
      {"tr", {"WORD tr 1", "NEWLINE  1", "ENDFILE  1"}},
      {"True false", {"WORD True 1", "BOOL false 1", "NEWLINE  1", "ENDFILE  1"}},
      {"falsehood", {"BOOL false 1", "WORD hood 1", "NEWLINE  1", "ENDFILE  1"}},
      {"fals", {"WORD fals 1", "NEWLINE  1", "ENDFILE  1"}},
      {"1.", {"NUMBER 1 1", "DOT . 1", "NEWLINE  1", "ENDFILE  1"}},
      {"1.5.3", {"NUMBER 1.5 1", "DOT . 1", "NUMBER 3 1", "NEWLINE  1", "ENDFILE  1"}},
      {"1-2", {"NUMBER 1 1", "NUMBER -2 1", "NEWLINE  1", "ENDFILE  1"}},
      {"-0.25 .5", {"NUMBER -0.25 1", "DOT . 1", "NUMBER 5 1", "NEWLINE  1", "ENDFILE  1"}},
      {"a-1 _x-y9", {"WORD a-1 1", "WORD _x-y9 1", "NEWLINE  1", "ENDFILE  1"}},
      {"-", {"WORD - 1", "NEWLINE  1", "ENDFILE  1"}},
      {"-a", {"WORD -a 1", "NEWLINE  1", "ENDFILE  1"}},
      {"<<&()/,.:@",
       {"INHERIT << 1", "AMP & 1", "PAREN_OPEN ( 1", "PAREN_CLOSE ) 1", "SLASH / 1", "COMMA , 1",
        "DOT . 1", "COLON : 1", "AT @ 1", "NEWLINE  1", "ENDFILE  1"}},
  });
}

TEST(Lexer, strings_keep_quotes_and_escapes_as_written) {
  expect_tokens({
      {R"(a: "x \"y\" // z" b)",
       {"WORD a 1", "COLON : 1", R"(STRING "x \"y\" // z" 1)", "WORD b 1", "NEWLINE  1",
        "ENDFILE  1"}},
      {R"("a\\" "")", {R"(STRING "a\\" 1)", R"(STRING "" 1)", "NEWLINE  1", "ENDFILE  1"}},
  });
}

TEST(Lexer, colors_of_every_digit_count) {
  expect_tokens({
      {"#abc #abcd #aabbcc #AABBCCDD",
       {"COLOR #abc 1", "COLOR #abcd 1", "COLOR #aabbcc 1", "COLOR #AABBCCDD 1", "NEWLINE  1",
        "ENDFILE  1"}},
      {"#ff00zz", {"COLOR #ff00 1", "WORD zz 1", "NEWLINE  1", "ENDFILE  1"}},
  });
  for (const std::size_t count : {0u, 1u, 2u, 5u, 7u, 9u, 40u}) {
    const std::string lexeme = "#" + std::string(count, 'a');
    SCOPED_TRACE(lexeme);
    EXPECT_EQ(lex(lexeme).front(), "ERROR " + lexeme + " 1");
    EXPECT_EQ(lex_errors(lexeme).size(), 1u);
  }
}

TEST(Lexer, pathological_inputs_end_in_tokens_not_a_crash) {
  // Thousands of levels, one space deeper per line.
  constexpr std::size_t depth = 3000;
  std::string deep;
  for (std::size_t i = 0; i < depth; ++i) deep += std::string(i, ' ') + "a:\n";
  DLexer deep_lexer(deep);
  const auto tokens = deep_lexer.build_tokens();
  EXPECT_TRUE(deep_lexer.errors().empty());
  std::size_t indents = 0;
  std::size_t dedents = 0;
  for (const auto& token : tokens) {
    indents += token.type == DTokenType::INDENT;
    dedents += token.type == DTokenType::DEDENT;
  }
  EXPECT_EQ(indents, depth - 1);
  EXPECT_EQ(dedents, depth - 1);

  // Every lone byte, and every byte after a string's backslash.
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    for (const std::string& source : {one, "\"\\" + one, "a:" + one + one + "\n"}) {
      DLexer lexer(source);
      const auto lone = lexer.build_tokens();
      ASSERT_FALSE(lone.empty());
      EXPECT_EQ(lone.back().type, DTokenType::ENDFILE);
    }
  }

  const std::string long_word(1 << 20, 'w');
  const std::string huge_number(5000, '9');
  EXPECT_EQ(lex(long_word + " " + huge_number),
            (std::vector<std::string>{"WORD " + long_word + " 1", "NUMBER " + huge_number + " 1",
                                      "NEWLINE  1", "ENDFILE  1"}));
}

TEST(Lexer, token_type_names) {
  EXPECT_EQ(to_string(DTokenType::WORD), "WORD");
  EXPECT_EQ(to_string(DTokenType::PAREN_CLOSE), "PAREN_CLOSE");
  EXPECT_EQ(to_string(DTokenType::ERROR), "ERROR");
  EXPECT_EQ(to_string(static_cast<DTokenType>(19)), "UNKNOWN");
}

}  // namespace
}  // namespace Drelm
