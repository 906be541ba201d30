#include "theme_language/parser.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "theme_language/internal/load_limits.h"

namespace Drelm {

namespace {

// Up to this many alternatives of one expansion are searched for a repeat in
// the list.
constexpr std::size_t kScannedAlternatives = 16;

unsigned hex_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}

bool is_empty_literal(const DExpression& expression) {
  const auto* literal = std::get_if<DLiteral>(&expression);
  return literal != nullptr && std::holds_alternative<std::monostate>(*literal);
}

}  // namespace

namespace {

std::string describe_token(DTokenType type, std::string_view lexeme) {
  switch (type) {
    case DTokenType::WORD:
    case DTokenType::BOOL:
    case DTokenType::NUMBER:
    case DTokenType::STRING:
    case DTokenType::COLOR:
    case DTokenType::COLON:
    case DTokenType::AT:
    case DTokenType::AMP:
    case DTokenType::SLASH:
    case DTokenType::DOT:
    case DTokenType::PAREN_OPEN:
    case DTokenType::PAREN_CLOSE:
    case DTokenType::COMMA:
    case DTokenType::INHERIT:
      return "`" + std::string(lexeme) + "`";
    case DTokenType::INDENT:
      return "indent";
    case DTokenType::DEDENT:
      return "dedent";
    case DTokenType::NEWLINE:
      return "line end";
    case DTokenType::ENDFILE:
      return "end of file";
    case DTokenType::ERROR:
      return "error";
  }
  return "unknown";
}

}  // namespace

std::string describe(const DToken& token) { return describe_token(token.type, token.lexeme); }

std::string to_string(DParser::DBlockContext context) {
  switch (context) {
    case DParser::DBlockContext::LAYER_DEFINITION:
      return "layer definition";
    case DParser::DBlockContext::STATE_SET:
      return "state-set";
    case DParser::DBlockContext::GROUP_SET:
      return "group-set";
  }
  return "unknown";
}

// What the lines directly inside one block start, counted ahead so that the
// lists they fill are sized once. Only a hint: a line the parser reads
// otherwise costs a list growth, nothing more.
struct DParser::BlockCounts {
  // Index of the block's INDENT token; the file's top level comes first.
  std::uint64_t indent = 0;
  std::uint32_t attributes = 0;
  std::uint32_t layers = 0;
  std::uint32_t group_sets = 0;
  // Lines starting with "@": state-sets, or the states of an attribute.
  std::uint32_t states = 0;
};

struct DParser::Impl {
  // Never changed after construction, so views of the texts stay valid.
  std::vector<DToken> tokens;
  std::vector<BlockCounts> blocks;
  // Moves forward with the parser: blocks open in token order.
  std::size_t next_block = 1;
  std::uint64_t current = 0;
  // Levels open around the current token: its blocks, and the layers that
  // the paths of the declarations opening them name on the way.
  std::uint64_t depth = 0;
  DLayerNode root;
  std::vector<DError> errors;
};

namespace {

// Whether a line's tokens hold a ":", looked for from the end, where an
// attribute's value is short.
bool has_colon(const DToken* begin, const DToken* end) {
  while (end != begin) {
    if ((--end)->type == DTokenType::COLON) return true;
  }
  return false;
}

}  // namespace

// Levels added to the depth while a block or a path is open; taken off again
// however the rule returns.
struct DParser::Nested {
  Nested(std::uint64_t& depth, std::uint64_t levels) : depth(depth), levels(levels) {
    depth += levels;
  }
  ~Nested() { depth -= levels; }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
  std::uint64_t& depth;
  std::uint64_t levels;
};

namespace {

// Whether the parser ever reads the token's text: content and punctuation
// name themselves in diagnostics, the layout tokens do not.
bool is_lexeme_read(DTokenType type) {
  switch (type) {
    case DTokenType::INDENT:
    case DTokenType::DEDENT:
    case DTokenType::NEWLINE:
    case DTokenType::ENDFILE:
    case DTokenType::ERROR:
      return false;
    default:
      return true;
  }
}

}  // namespace

DParser::DParser(const std::vector<DToken>& tokens) : impl(std::make_unique<Impl>()) {
  // Only the texts read are copied: indentation runs can be long.
  impl->tokens.reserve(tokens.size() + 1);
  for (const DToken& token : tokens) {
    DToken& added = impl->tokens.emplace_back();
    if (is_lexeme_read(token.type)) added.lexeme = token.lexeme;
    added.type = token.type;
    added.line = token.line;
  }
  end_with_endfile();
}

DParser::DParser(std::vector<DToken>&& tokens) : impl(std::make_unique<Impl>()) {
  impl->tokens = std::move(tokens);
  end_with_endfile();
}

void DParser::count_block_lines() {
  const std::vector<DToken>& tokens = impl->tokens;
  auto& blocks = impl->blocks;
  // Open blocks as indices into blocks; files rarely nest deeper than this.
  std::vector<std::size_t> open;
  open.reserve(16);
  open.push_back(0);
  // About one block in sixteen tokens in real files: grown once at most.
  blocks.reserve(tokens.size() / 16 + 1);
  blocks.emplace_back();
  // A line is classified by its first and last token, as parse_statement will
  // read it in the common cases: "@" starts a state-set (or a state), a final
  // ":" opens a layer body, a final "." a group-set, a line without ":" is a
  // layer without body, and anything else is taken for an attribute.
  std::uint64_t line_start = 0;
  // Local copies: the compiler cannot tell that growing blocks leaves them.
  const DToken* const token = tokens.data();
  const std::uint64_t count = tokens.size();
  for (std::uint64_t i = 0; i < count; ++i) {
    const DTokenType type = token[i].type;
    // INDENT, DEDENT, NEWLINE and ENDFILE end a line; content goes on.
    if (static_cast<std::uint32_t>(type) - static_cast<std::uint32_t>(DTokenType::INDENT) > 3) {
      continue;
    }
    if (line_start < i) {
      BlockCounts& counts = blocks[open.back()];
      const DTokenType last = token[i - 1].type;
      if (token[line_start].type == DTokenType::AT) {
        ++counts.states;
      } else if (last == DTokenType::COLON) {
        ++counts.layers;
      } else if (last == DTokenType::DOT) {
        ++counts.group_sets;
      } else if ((last == DTokenType::WORD || last == DTokenType::PAREN_CLOSE) &&
                 !has_colon(token + line_start, token + i)) {
        // A name alone, or with a base: a layer without body.
        ++counts.layers;
      } else {
        ++counts.attributes;
      }
    }
    line_start = i + 1;
    if (type == DTokenType::INDENT) {
      open.push_back(blocks.size());
      blocks.emplace_back().indent = i;
    } else if (type == DTokenType::DEDENT && open.size() > 1) {
      open.pop_back();
    }
  }
}

// The counts of the block whose NEWLINE INDENT starts at the current token.
const DParser::BlockCounts* DParser::block_ahead() {
  const std::uint64_t indent = impl->current + 1;
  const auto& blocks = impl->blocks;
  std::size_t& next = impl->next_block;
  while (next < blocks.size() && blocks[next].indent < indent) ++next;
  if (next < blocks.size() && blocks[next].indent == indent) return &blocks[next];
  return nullptr;
}

// Guards peek and advance against a hand-made list that breaks the
// precondition; lexer output already ends this way.
void DParser::end_with_endfile() {
  auto& tokens = impl->tokens;
  if (tokens.empty() || tokens.back().type != DTokenType::ENDFILE) {
    const std::uint64_t line = tokens.empty() ? 1 : tokens.back().line;
    tokens.push_back(DToken{"", DTokenType::ENDFILE, line});
  }
}

DParser::~DParser() = default;

const std::vector<DError>& DParser::errors() const { return impl->errors; }

// ---- Token primitives ----

// The list ends with ENDFILE and advance never passes one, so the current
// token is always inside the list.
inline const DToken& DParser::peek(std::uint64_t k) const {
  const auto& tokens = impl->tokens;
  if (k == 0) return tokens[impl->current];
  const std::uint64_t last = tokens.size() - 1;
  if (k >= last - impl->current) return tokens[last];
  return tokens[impl->current + k];
}

inline bool DParser::check(DTokenType type, std::uint64_t k) const { return peek(k).type == type; }

inline bool DParser::is_end_reached() const { return check(DTokenType::ENDFILE); }

inline const DToken& DParser::advance() {
  const DToken& token = peek();
  if (token.type != DTokenType::ENDFILE) ++impl->current;
  return token;
}

inline bool DParser::match(DTokenType type) {
  if (!check(type)) return false;
  advance();
  return true;
}

inline std::string DParser::take_lexeme() {
  const DToken& token = advance();
  return token.lexeme;
}

void DParser::report_error(std::uint64_t line, const std::string& message) {
  impl->errors.push_back(DError{line, message});
}

void DParser::report_unexpected(const std::string& tail) {
  report_error(peek().line,
               "Found unexpected " + describe_token(peek().type, peek().lexeme) + tail);
}

// ---- Recovery ----

// Skips the rest of the line, its line end included.
void DParser::synchronize() {
  while (!check(DTokenType::NEWLINE) && !is_end_reached()) advance();
  match(DTokenType::NEWLINE);
}

// Skips to the end of the block being closed, nested blocks included.
void DParser::synchronize_block() {
  std::uint64_t depth = 1;
  while (!is_end_reached()) {
    const DTokenType type = advance().type;
    if (type == DTokenType::INDENT) {
      ++depth;
    } else if (type == DTokenType::DEDENT && --depth == 0) {
      return;
    }
  }
}

// A path names one layer per traversal name, each a level deeper, as nested
// blocks would: a declaration whose layers would nest deeper than blocks may
// is reported and skipped with whatever is indented below it.
bool DParser::skip_too_deep(const DDeclaration& declaration) {
  const std::size_t names = declaration.traversal.size();
  if (impl->depth + names <= kMaxLayerDepth) return false;
  report_error(
      declaration.traversal.front().line,
      "Found path nested deeper than " + std::to_string(kMaxLayerDepth) + " levels; skipping it.");
  synchronize();
  if (match(DTokenType::INDENT)) synchronize_block();
  return true;
}

// ---- Rules ----

// file -> statement* ENDFILE
DLayerNode DParser::parse_file() {
  count_block_lines();
  reserve_for(impl->root, impl->blocks.front());
  while (!is_end_reached()) {
    const auto before = impl->current;
    parse_statement(impl->root);
    if (impl->current == before) {
      report_error(peek().line,
                   "Failed to progress parsing file statement; proceeding unconditionally.");
      advance();
    }
  }
  return std::move(impl->root);
}

// statement -> "@" conditions ":" block | declaration (attribute | layer) | declaration "." block
void DParser::parse_statement(DLayerNode& node) {
  if (match(DTokenType::AT)) {
    DStateSet set;
    set.conditions = parse_conditions();
    if (!match(DTokenType::COLON)) report_unexpected("; expected `:` after state-set states.");
    if (const BlockCounts* counts = block_ahead()) {
      set.attributes.reserve(counts->attributes);
      set.group_sets.reserve(counts->group_sets);
    }
    parse_block(DBlockContext::STATE_SET, [&] { parse_state_set_item(set); });
    node.state_sets.push_back(std::move(set));
    return;
  }

  // A value on the same line makes an attribute; a colon at the line end
  // opens a layer body. Nodes are built in place: nothing below touches the
  // parent's lists meanwhile.
  const auto is_attribute = [this](const DDeclaration& declaration) {
    return !declaration.name.parts.empty() && check(DTokenType::COLON) &&
           !check(DTokenType::NEWLINE, 1);
  };
  DDeclaration declaration;
  // Most statements are attributes: when the list has room, the declaration
  // is read straight into a new one, taken back if it is something else.
  auto& attributes = node.attributes;
  if (attributes.size() < attributes.capacity()) {
    DAttributeNode& attribute = attributes.emplace_back();
    read_path(attribute.declaration);
    if (skip_too_deep(attribute.declaration)) {
      attributes.pop_back();
      return;
    }
    if (is_attribute(attribute.declaration)) {
      parse_attribute(attribute);
      return;
    }
    declaration = std::move(attribute.declaration);
    attributes.pop_back();
  } else {
    read_path(declaration);
    if (skip_too_deep(declaration)) return;
  }
  if (!declaration.name.parts.empty()) {
    if (is_attribute(declaration)) {
      DAttributeNode& attribute = attributes.emplace_back();
      attribute.declaration = std::move(declaration);
      parse_attribute(attribute);
    } else {
      DLayerNode& layer = node.layer_nodes.emplace_back();
      layer.declaration = std::move(declaration);
      parse_layer(layer);
    }
  } else if (declaration.group.parts.empty()) {
    report_error(peek().line, "Expected a name.");
    synchronize();
  } else {
    DGroupSet group_set;
    group_set.declaration = std::move(declaration);
    const Nested nested(impl->depth, group_set.declaration.traversal.size());
    group_set.attributes = parse_group_attributes();
    node.group_sets.push_back(std::move(group_set));
  }
}

// layer -> declaration ["<<" reference] (":" block | NEWLINE)
// REQUIRES: node holds the declaration and nothing else.
void DParser::parse_layer(DLayerNode& node) {
  if (match(DTokenType::INHERIT)) {
    if (check(DTokenType::WORD)) {
      node.inherits = parse_reference();
    } else {
      report_unexpected("; expected reference after `<<`.");
    }
  }
  if (match(DTokenType::COLON)) {
    if (const BlockCounts* counts = block_ahead()) reserve_for(node, *counts);
    const Nested nested(impl->depth, node.declaration.traversal.size());
    parse_block(DBlockContext::LAYER_DEFINITION, [&] { parse_statement(node); });
  } else if (!match(DTokenType::NEWLINE)) {
    report_unexpected("; expected line end after layer declaration.");
    synchronize();
  }
}

void DParser::reserve_for(DLayerNode& node, const BlockCounts& counts) {
  node.attributes.reserve(counts.attributes);
  node.layer_nodes.reserve(counts.layers);
  node.group_sets.reserve(counts.group_sets);
  node.state_sets.reserve(counts.states);
}

// block -> NEWLINE INDENT item+ DEDENT
template <typename Item>
void DParser::parse_block(DBlockContext context, Item&& item) {
  if (!check(DTokenType::NEWLINE) || !check(DTokenType::INDENT, 1)) {
    report_unexpected("; expected indented attributes.");
    synchronize();
    return;
  }
  advance();
  advance();
  // Blocks nest by recursion (statement, layer, block, statement, ...), and a
  // file of a few megabytes can indent deep enough to overflow the stack.
  if (impl->depth >= kMaxLayerDepth) {
    report_error(peek().line, "Found " + to_string(context) + " nested deeper than " +
                                  std::to_string(kMaxLayerDepth) + " blocks; skipping it.");
    synchronize_block();
    return;
  }
  const Nested nested(impl->depth, 1);
  // The item runs at least once: an INDENT always opens a line with content.
  do {
    const auto before = impl->current;
    item();
    if (impl->current == before) {
      report_error(peek().line, "Failed to progress parsing " + to_string(context) +
                                    "; proceeding unconditionally.");
      advance();
    }
  } while (!check(DTokenType::DEDENT) && !is_end_reached());
  if (!match(DTokenType::DEDENT)) {
    report_unexpected("; expected dedent to close " + to_string(context) + ".");
    synchronize_block();
  }
}

// state_set_item -> attribute | declaration "." group_block
void DParser::parse_state_set_item(DStateSet& set) {
  DDeclaration declaration = parse_declaration();
  if (skip_too_deep(declaration)) return;
  if (!declaration.name.parts.empty()) {
    const std::uint64_t line = declaration.name.line;
    DAttributeNode& attribute = set.attributes.emplace_back();
    attribute.declaration = std::move(declaration);
    parse_attribute(attribute);
    if (!attribute.states.empty()) {
      report_error(line, "Found invalid inline state in state-set attribute.");
      set.attributes.pop_back();
    }
  } else if (declaration.group.parts.empty()) {
    report_error(peek().line, "Expected a name.");
    synchronize();
  } else {
    DGroupSet group_set;
    group_set.declaration = std::move(declaration);
    const Nested nested(impl->depth, group_set.declaration.traversal.size());
    for (auto& attribute : parse_group_attributes()) {
      if (!attribute.states.empty()) {
        report_error(attribute.declaration.name.line,
                     "Found invalid inline state in group-set attribute within a state-set.");
      } else {
        group_set.attributes.push_back(std::move(attribute));
      }
    }
    set.group_sets.push_back(std::move(group_set));
  }
}

// group_block -> block of (name ":" expression states)
std::vector<DAttributeNode> DParser::parse_group_attributes() {
  std::vector<DAttributeNode> attributes;
  if (const BlockCounts* counts = block_ahead()) attributes.reserve(counts->attributes);
  parse_block(DBlockContext::GROUP_SET, [&] {
    DDeclaration declaration = parse_declaration();
    bool valid = true;
    if (!declaration.traversal.empty()) {
      report_error(peek().line, "Found invalid traversal in group-set attribute declaration.");
      valid = false;
    }
    if (!declaration.group.parts.empty()) {
      report_error(peek().line, "Found invalid group in group-set attribute declaration.");
      valid = false;
    }
    DAttributeNode& attribute = attributes.emplace_back();
    attribute.declaration = std::move(declaration);
    parse_attribute(attribute);
    if (!valid) attributes.pop_back();
  });
  return attributes;
}

// attribute -> declaration ":" expression (state+ NEWLINE | NEWLINE [INDENT (state NEWLINE)+
// DEDENT])
// REQUIRES: node holds the declaration and nothing else.
void DParser::parse_attribute(DAttributeNode& node) {
  if (node.declaration.name.parts.empty()) report_error(peek().line, "Expected an attribute name.");
  if (!match(DTokenType::COLON)) {
    report_unexpected("; expected a colon `:` after attribute declaration.");
    synchronize();
    return;
  }
  node.value = parse_expression();
  if (is_empty_literal(node.value)) {
    synchronize();
    return;
  }

  if (check(DTokenType::AT)) {
    while (check(DTokenType::AT)) node.states.push_back(parse_state());
    if (!match(DTokenType::NEWLINE)) {
      report_unexpected("; expected a line end after inline states.");
      synchronize();
    }
  } else if (check(DTokenType::NEWLINE) && check(DTokenType::INDENT, 1)) {
    if (const BlockCounts* counts = block_ahead()) node.states.reserve(counts->states);
    advance();
    advance();
    while (check(DTokenType::AT)) {
      node.states.push_back(parse_state());
      if (!match(DTokenType::NEWLINE)) {
        report_unexpected("; expected a line end after indented state.");
      }
    }
    if (!match(DTokenType::DEDENT)) {
      report_unexpected("; expected dedent to close block of states.");
      synchronize_block();
    }
  } else if (!match(DTokenType::NEWLINE)) {
    report_unexpected("; expected a line end after attribute.");
    synchronize();
  }
}

// state -> "@" conditions ":" expression
// REQUIRES: the current token is AT.
DState DParser::parse_state() {
  advance();
  DState state;
  state.conditions = parse_conditions();
  if (!match(DTokenType::COLON)) report_unexpected("; expected `:` after state's state names.");
  state.value = parse_expression();
  return state;
}

// conditions -> WORD ("&" WORD)*
std::vector<std::string> DParser::parse_conditions() {
  std::vector<std::string> conditions;
  do {
    if (check(DTokenType::WORD)) {
      conditions.push_back(advance().lexeme);
    } else {
      report_unexpected("; expected a state name.");
    }
  } while (match(DTokenType::AMP));
  return conditions;
}

// expression -> reference | BOOL | NUMBER | STRING | COLOR
DExpression DParser::parse_expression() {
  switch (peek().type) {
    case DTokenType::WORD:
      return parse_reference();
    case DTokenType::BOOL:
      return DLiteral{advance().lexeme == "true"};
    case DTokenType::NUMBER:
      return DLiteral{parse_number()};
    case DTokenType::STRING:
      return DLiteral{parse_string()};
    case DTokenType::COLOR:
      return DLiteral{parse_color()};
    default:
      break;
  }
  report_error(peek().line, "Found " + describe_token(peek().type, peek().lexeme) +
                                " where expression was expected.");
  return DLiteral{};
}

// declaration -> path
DDeclaration DParser::parse_declaration() {
  DDeclaration declaration;
  read_path(declaration);
  return declaration;
}

DParser::DPath DParser::parse_path() {
  DPath path;
  read_path(path);
  return path;
}

// path -> name ("/" name)* ["." name]
// REQUIRES: path is empty.
template <typename Path>
void DParser::read_path(Path& path) {
  // Each name is read into path.name, where most paths' only name stays.
  read_name(path.name);
  while (match(DTokenType::SLASH)) {
    path.traversal.push_back(std::move(path.name));
    read_name(path.name);
  }

  if (match(DTokenType::DOT)) {
    path.group = std::move(path.name);
    read_name(path.name);
    if (check(DTokenType::SLASH)) {
      report_error(peek().line, "Found `/` after `.`; traversal must precede grouping.");
      while (match(DTokenType::SLASH)) parse_name();
    }
    if (path.group.parts.empty()) report_error(path.group.line, "Expected a name in group.");
  }

  std::erase_if(path.traversal, [this](const DName& name) {
    if (!name.parts.empty()) return false;
    report_error(name.line, "Expected a name in traversal.");
    return true;
  });
}

DName DParser::parse_name() {
  DName name;
  read_name(name);
  return name;
}

// name -> (WORD | "(" words ("," words)* ")")*
void DParser::read_name(DName& name) {
  // What a move left behind, if anything.
  name.parts.clear();
  name.line = peek().line;
  // Most names are plain words: one part each, sized once.
  std::uint64_t words = 0;
  while (check(DTokenType::WORD, words)) ++words;
  name.parts.reserve(words);
  while (true) {
    if (match(DTokenType::PAREN_OPEN)) {
      std::vector<std::string> alternatives;
      // Past a few, the alternatives are also kept in order, so that a long
      // list finds its repeats in n log n.
      const auto less = [&alternatives](std::size_t a, std::size_t b) {
        return alternatives[a] < alternatives[b];
      };
      std::set<std::size_t, decltype(less)> ordered(less);
      do {
        std::string alternative = parse_words();
        bool repeated = false;
        if (alternatives.size() < kScannedAlternatives) {
          repeated = std::find(alternatives.begin(), alternatives.end(), alternative) !=
                     alternatives.end();
          if (!repeated) alternatives.push_back(std::move(alternative));
        } else {
          for (std::size_t i = ordered.size(); i < alternatives.size(); ++i) ordered.insert(i);
          alternatives.push_back(std::move(alternative));
          repeated = !ordered.insert(alternatives.size() - 1).second;
          if (repeated) {
            alternative = std::move(alternatives.back());
            alternatives.pop_back();
          }
        }
        if (repeated) {
          report_error(peek().line, "Found duplicate expansion alternative `" + alternative + "`.");
        }
      } while (match(DTokenType::COMMA));
      if (!match(DTokenType::PAREN_CLOSE)) {
        report_unexpected("; expected `)` to close the expansion.");
      }
      name.parts.push_back(std::move(alternatives));
    } else if (check(DTokenType::WORD)) {
      auto& part = name.parts.emplace_back();
      part.push_back(advance().lexeme);
    } else {
      return;
    }
  }
}

// words -> WORD*
std::string DParser::parse_words() {
  std::string words;
  while (check(DTokenType::WORD)) {
    if (words.empty()) {
      words = take_lexeme();
      continue;
    }
    words += ' ';
    words += advance().lexeme;
  }
  return words;
}

// word -> WORD
std::string DParser::parse_word() {
  if (!check(DTokenType::WORD)) return {};
  return take_lexeme();
}

// reference -> path, with every name reduced to plain text
DReference DParser::parse_reference() {
  if (is_plain_reference()) return parse_plain_reference();
  DPath path = parse_path();
  DReference reference;
  reference.traversal = to_referenceable(path.traversal);
  if (!path.group.parts.empty()) reference.group = to_referenceable(path.group);
  reference.name = to_referenceable(path.name);
  return reference;
}

// Whether the reference ahead is words separated by "/" with at most one "."
// before the last name: no expansion, no empty name, nothing to report.
bool DParser::is_plain_reference() const {
  std::uint64_t k = 0;
  const auto skip_words = [this, &k] {
    if (!check(DTokenType::WORD, k)) return false;
    while (check(DTokenType::WORD, k)) ++k;
    return !check(DTokenType::PAREN_OPEN, k);
  };
  while (true) {
    if (!skip_words()) return false;
    if (check(DTokenType::SLASH, k)) {
      ++k;
      continue;
    }
    if (check(DTokenType::DOT, k)) {
      ++k;
      return skip_words() && !check(DTokenType::SLASH, k);
    }
    return true;
  }
}

// The texts parse_reference would make of a plain reference, without the
// names in between.
// REQUIRES: is_plain_reference().
DReference DParser::parse_plain_reference() {
  // Words of one name join with a space, as to_referenceable joins parts.
  const auto take_name = [this] {
    std::string text = take_lexeme();
    while (check(DTokenType::WORD)) {
      text += ' ';
      text += advance().lexeme;
    }
    return text;
  };
  DReference reference;
  std::string text = take_name();
  while (match(DTokenType::SLASH)) {
    reference.traversal.push_back(std::move(text));
    text = take_name();
  }
  if (match(DTokenType::DOT)) {
    reference.group = std::move(text);
    reference.name = take_name();
  } else {
    reference.name = std::move(text);
  }
  return reference;
}

std::string DParser::to_referenceable(const DName& name) {
  if (name.parts.empty()) {
    report_error(name.line, "Expected a name in reference.");
    return {};
  }
  std::string text;
  for (const auto& part : name.parts) {
    if (part.size() > 1) {
      report_error(name.line,
                   "Found expansion in reference; expansions are only allowed in declaration "
                   "names.");
    }
    if (&part != &name.parts.front()) text += ' ';
    if (!part.empty()) text += part.front();
  }
  return text;
}

std::vector<std::string> DParser::to_referenceable(const std::vector<DName>& names) {
  std::vector<std::string> texts;
  texts.reserve(names.size());
  for (const auto& name : names) texts.push_back(to_referenceable(name));
  return texts;
}

double DParser::parse_number() {
  const DToken& token = advance();
  const std::string_view lexeme = token.lexeme;
  double value = 0.0;
  const char* end = lexeme.data() + lexeme.size();
  const auto [rest, error] = std::from_chars(lexeme.data(), end, value, std::chars_format::general);
  if (error == std::errc() && rest == end) return value;
  if (error == std::errc::result_out_of_range) {
    report_error(token.line,
                 "Found `" + std::string(lexeme) + "`; this number is too large to represent.");
  } else {
    report_error(token.line, "Found `" + std::string(lexeme) + "` where number was expected.");
  }
  return 0.0;
}

std::string DParser::parse_string() {
  const DToken& token = advance();
  const std::string_view lexeme = token.lexeme;
  // Without the quotes; a lexer-built token always has both.
  const std::string_view body =
      lexeme.size() >= 2 ? lexeme.substr(1, lexeme.size() - 2) : std::string_view();
  if (body.find('\\') == std::string_view::npos) return std::string(body);
  std::string text;
  text.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c != '\\' || i + 1 == body.size()) {
      text += c;
      continue;
    }
    const char escaped = body[++i];
    switch (escaped) {
      case '"':
        text += '"';
        break;
      case '\\':
        text += '\\';
        break;
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      default:
        report_error(token.line, std::string("Found unknown escape `\\") + escaped +
                                     "`; expected \\\", \\\\, \\n, or \\t.");
        text += '\\';
        text += escaped;
        break;
    }
  }
  return text;
}

// REQUIRES: a COLOR token, that is "#" and 3, 4, 6 or 8 hexadecimal digits.
DColor DParser::parse_color() {
  const std::string_view lexeme = advance().lexeme;
  const std::string_view digits = lexeme.empty() ? std::string_view() : lexeme.substr(1);
  std::string normal;
  normal.reserve(8);
  if (digits.size() == 3 || digits.size() == 4) {
    for (const char c : digits) normal.append(2, c);
  } else {
    normal = digits;
  }
  if (normal.size() == 6) normal.insert(0, "ff");
  if (normal.size() != 8) return DColor{};
  const auto pair = [&normal](std::size_t i) {
    return hex_value(normal[2 * i]) * 16 + hex_value(normal[2 * i + 1]);
  };
  return DColor{pair(0), pair(1), pair(2), pair(3)};
}

}  // namespace Drelm
