#include "theme_language/lexer.h"

#include <stdexcept>
#include <string_view>
#include <utility>

namespace Drelm {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Bytes 0x80 and above end a word: names are plain ASCII.
bool is_word_byte(char c) { return is_letter(c) || is_digit(c) || c == '_' || c == '-'; }

}  // namespace

// Keep in step with DTokenType.
std::string to_string(DTokenType type) {
  switch (type) {
    case DTokenType::WORD:
      return "WORD";
    case DTokenType::BOOL:
      return "BOOL";
    case DTokenType::NUMBER:
      return "NUMBER";
    case DTokenType::STRING:
      return "STRING";
    case DTokenType::COLOR:
      return "COLOR";
    case DTokenType::COLON:
      return "COLON";
    case DTokenType::AT:
      return "AT";
    case DTokenType::AMP:
      return "AMP";
    case DTokenType::SLASH:
      return "SLASH";
    case DTokenType::DOT:
      return "DOT";
    case DTokenType::PAREN_OPEN:
      return "PAREN_OPEN";
    case DTokenType::PAREN_CLOSE:
      return "PAREN_CLOSE";
    case DTokenType::COMMA:
      return "COMMA";
    case DTokenType::INHERIT:
      return "INHERIT";
    case DTokenType::INDENT:
      return "INDENT";
    case DTokenType::DEDENT:
      return "DEDENT";
    case DTokenType::NEWLINE:
      return "NEWLINE";
    case DTokenType::ENDFILE:
      return "ENDFILE";
    case DTokenType::ERROR:
      return "ERROR";
  }
  return "UNKNOWN";
}

struct DLexer::Impl {
  std::string source;
  std::uint64_t position = 0;
  std::uint64_t line = 1;
  bool at_line_start = true;
  // Strictly increasing; the bottom 0 is never popped.
  std::vector<std::uint64_t> indent_stack{0};
  std::uint64_t start = 0;
  std::vector<DToken> tokens;
  std::vector<DError> errors;
};

DLexer::DLexer(const std::string& source) : impl(std::make_unique<Impl>()) {
  constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
  if (std::string_view(source).starts_with(byte_order_mark)) {
    impl->source = source.substr(byte_order_mark.size());
  } else {
    impl->source = source;
  }
}

DLexer::~DLexer() = default;

const std::vector<DError>& DLexer::errors() const { return impl->errors; }

// ---- Byte primitives ----

char DLexer::advance() {
  if (is_end_reached()) throw std::out_of_range("DLexer::advance past the end of the source");
  return impl->source[impl->position++];
}

char DLexer::peek(std::uint64_t k) const {
  const std::uint64_t size = impl->source.size();
  if (impl->position >= size || k >= size - impl->position) return '\0';
  return impl->source[impl->position + k];
}

bool DLexer::check(char c, std::uint64_t k) const { return peek(k) == c; }

bool DLexer::match(char c) {
  if (is_end_reached() || !check(c)) return false;
  ++impl->position;
  return true;
}

bool DLexer::is_end_reached() const { return impl->position >= impl->source.size(); }

void DLexer::add_token(DTokenType type) {
  impl->tokens.push_back(
      DToken{impl->source.substr(impl->start, impl->position - impl->start), type, impl->line});
}

void DLexer::report_error(const std::string& message) {
  impl->errors.push_back(DError{impl->line, message});
}

// ---- Steps ----

std::vector<DToken> DLexer::build_tokens() {
  while (!is_end_reached()) {
    if (impl->at_line_start) {
      lex_start();
      if (is_end_reached()) break;
    }
    impl->start = impl->position;
    next_token();
  }
  impl->start = impl->position;
  if (!impl->tokens.empty() && impl->tokens.back().type != DTokenType::NEWLINE) {
    add_token(DTokenType::NEWLINE);
  }
  while (impl->indent_stack.size() > 1) {
    impl->indent_stack.pop_back();
    add_token(DTokenType::DEDENT);
  }
  add_token(DTokenType::ENDFILE);
  return impl->tokens;  // the lexer keeps its own list
}

// Turns the leading blanks of a content line into INDENT or DEDENT tokens.
void DLexer::lex_start() {
  impl->at_line_start = false;
  impl->start = impl->position;
  bool has_tab = false;
  while (check(' ') || check('\t')) {
    if (advance() == '\t') has_tab = true;
  }
  if (is_end_reached()) return;
  // Blank and comment lines neither open nor close a level.
  if (check('\n') || check('\r') || check('\0') || (check('/') && check('/', 1))) return;
  if (has_tab) report_error("Found tab in indentation; indent with spaces instead.");

  const std::uint64_t width = impl->position - impl->start;
  auto& stack = impl->indent_stack;
  if (width > stack.back()) {
    stack.push_back(width);
    add_token(DTokenType::INDENT);
    return;
  }
  while (width < stack.back()) {
    stack.pop_back();
    add_token(DTokenType::DEDENT);
  }
  if (width == stack.back()) return;
  // Nothing is pushed: the line continues at the outer level.
  report_error("Found indentation mismatch; line has " + std::to_string(width) +
               " leading spaces but " + std::to_string(stack.back()) + " were expected.");
}

void DLexer::next_token() {
  const char c = advance();
  switch (c) {
    case ' ':
    case '\t':
      break;
    case '&':
      add_token(DTokenType::AMP);
      break;
    case '(':
      add_token(DTokenType::PAREN_OPEN);
      break;
    case ')':
      add_token(DTokenType::PAREN_CLOSE);
      break;
    case ',':
      add_token(DTokenType::COMMA);
      break;
    case '.':
      add_token(DTokenType::DOT);
      break;
    case ':':
      add_token(DTokenType::COLON);
      break;
    case '@':
      add_token(DTokenType::AT);
      break;
    case '<':
      if (match('<')) {
        add_token(DTokenType::INHERIT);
        break;
      }
      add_token(DTokenType::ERROR);
      report_error("Found single `<`; did you mean `<<` for inheritance?");
      break;
    case '\r':
      if (!match('\n')) {
        add_token(DTokenType::ERROR);
        report_error("Found unexpected character '\r'");
        break;
      }
      [[fallthrough]];
    case '\n':
      if (!impl->tokens.empty() && impl->tokens.back().type != DTokenType::NEWLINE) {
        add_token(DTokenType::NEWLINE);
      }
      ++impl->line;
      impl->at_line_start = true;
      break;
    case '/':
      if (match('/')) {
        while (!is_end_reached() && !check('\n') && !check('\0')) advance();
        break;
      }
      add_token(DTokenType::SLASH);
      break;
    case '"':
      read_string();
      break;
    case '#':
      read_color();
      break;
    case 't':
      if (check('r') && check('u', 1) && check('e', 2)) {
        for (int i = 0; i < 3; ++i) advance();
        add_token(DTokenType::BOOL);
        break;
      }
      read_word();
      break;
    case 'f':
      if (check('a') && check('l', 1) && check('s', 2) && check('e', 3)) {
        for (int i = 0; i < 4; ++i) advance();
        add_token(DTokenType::BOOL);
        break;
      }
      read_word();
      break;
    case '-':
      if (is_digit(peek())) {
        read_number();
        break;
      }
      read_word();
      break;
    default:
      if (is_digit(c)) {
        read_number();
      } else if (is_letter(c) || c == '_') {
        read_word();
      } else {
        add_token(DTokenType::ERROR);
        report_error(std::string("Found unexpected character '") + c + "'");
      }
      break;
  }
}

// REQUIRES: the opening quote has been consumed.
void DLexer::read_string() {
  // A line feed or zero byte ends the attempt, even right after a backslash.
  const auto is_broken = [this] { return is_end_reached() || check('\n') || check('\0'); };
  while (!is_broken()) {
    const char c = advance();
    if (c == '"') {
      add_token(DTokenType::STRING);
      return;
    }
    if (c == '\\' && !is_broken()) advance();
  }
  add_token(DTokenType::ERROR);
  report_error("Found non-terminated string: " + impl->tokens.back().lexeme);
}

// REQUIRES: the "#" has been consumed.
void DLexer::read_color() {
  while (is_hex_digit(peek())) advance();
  const std::uint64_t count = impl->position - impl->start - 1;
  if (count == 3 || count == 4 || count == 6 || count == 8) {
    add_token(DTokenType::COLOR);
    return;
  }
  add_token(DTokenType::ERROR);
  report_error("Found `#` with " + std::to_string(count) +
               " hex digits; expected 3, 4, 6, or 8 for a color: " + impl->tokens.back().lexeme);
}

// REQUIRES: the first digit, or a "-" before a digit, has been consumed.
void DLexer::read_number() {
  while (is_digit(peek())) advance();
  if (check('.') && is_digit(peek(1))) {
    advance();
    while (is_digit(peek())) advance();
  }
  add_token(DTokenType::NUMBER);
}

void DLexer::read_word() {
  while (is_word_byte(peek())) advance();
  add_token(DTokenType::WORD);
}

}  // namespace Drelm
