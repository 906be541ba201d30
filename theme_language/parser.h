#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "theme_language/lexer.h"
#include "theme_language/parse_tree.h"

namespace Drelm {

// Recursive-descent parser over the tokens of one ".drl" file. Never throws on
// bad input: each fault becomes a DError, the parser skips to a safe token and
// goes on, and parse_file returns the root in any case.
class DParser {
 public:
  // Kinds of indented block; only named in diagnostics.
  enum class DBlockContext : std::uint32_t {
    LAYER_DEFINITION,
    STATE_SET,
    GROUP_SET,
  };

  // Same fields and meaning as DDeclaration.
  struct DPath {
    std::vector<DName> traversal;
    DName group;
    DName name;
  };

  // REQUIRES: tokens as built by DLexer (not empty, ending with ENDFILE).
  explicit DParser(const std::vector<DToken>& tokens);
  explicit DParser(std::vector<DToken>&& tokens);
  ~DParser();
  DParser(const DParser&) = delete;
  DParser& operator=(const DParser&) = delete;

  // Call once; the root is moved out of the parser.
  DLayerNode parse_file();
  const std::vector<DError>& errors() const;

 private:
  // Token primitives
  const DToken& peek(std::uint64_t k = 0) const;
  bool check(DTokenType type, std::uint64_t k = 0) const;
  bool is_end_reached() const;
  const DToken& advance();
  bool match(DTokenType type);
  std::string take_lexeme();
  void report_error(std::uint64_t line, const std::string& message);
  void report_unexpected(const std::string& tail);

  void end_with_endfile();

  // Sizing of the lists a block fills
  struct BlockCounts;
  void count_block_lines();
  const BlockCounts* block_ahead();
  static void reserve_for(DLayerNode& node, const BlockCounts& counts);

  // Recovery
  void synchronize();
  void synchronize_block();
  struct Nested;
  bool skip_too_deep(const DDeclaration& declaration);

  // Rules, top-down
  void parse_statement(DLayerNode& node);
  void parse_layer(DLayerNode& node);
  template <typename Item>
  void parse_block(DBlockContext context, Item&& item);
  void parse_state_set_item(DStateSet& set);
  std::vector<DAttributeNode> parse_group_attributes();
  void parse_attribute(DAttributeNode& node);
  DState parse_state();
  std::vector<std::string> parse_conditions();
  DExpression parse_expression();
  DDeclaration parse_declaration();
  DPath parse_path();
  template <typename Path>
  void read_path(Path& path);
  DName parse_name();
  void read_name(DName& name);
  std::string parse_words();
  std::string parse_word();
  DReference parse_reference();
  bool is_plain_reference() const;
  DReference parse_plain_reference();
  std::string to_referenceable(const DName& name);
  std::vector<std::string> to_referenceable(const std::vector<DName>& names);
  double parse_number();
  std::string parse_string();
  DColor parse_color();

  struct Impl;
  std::unique_ptr<Impl> impl;
};

// How diagnostics name a token: `lexeme` for content tokens, words otherwise.
std::string describe(const DToken& token);
std::string to_string(DParser::DBlockContext context);

}  // namespace Drelm
