#include "theme_language/lexer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

namespace Drelm {

namespace {

enum : unsigned char { kDigit = 1, kLetter = 2, kHexDigit = 4, kWordByte = 8 };

constexpr std::array<unsigned char, 256> make_classes() {
  std::array<unsigned char, 256> classes{};
  for (int c = '0'; c <= '9'; ++c) classes[c] = kDigit | kHexDigit | kWordByte;
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kLetter | kWordByte;
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = kLetter | kWordByte;
  for (int c = 'A'; c <= 'F'; ++c) classes[c] |= kHexDigit;
  for (int c = 'a'; c <= 'f'; ++c) classes[c] |= kHexDigit;
  classes['_'] = kWordByte;
  classes['-'] = kWordByte;
  return classes;
}

// Bytes 0x80 and above belong to no class: names are plain ASCII.
constexpr std::array<unsigned char, 256> kClasses = make_classes();

bool has_class(char c, unsigned char mask) {
  return (kClasses[static_cast<unsigned char>(c)] & mask) != 0;
}

bool is_digit(char c) { return has_class(c, kDigit); }
bool is_hex_digit(char c) { return has_class(c, kHexDigit); }
bool is_word_byte(char c) { return has_class(c, kWordByte); }
bool is_word_start(char c) { return has_class(c, kLetter) || c == '_'; }

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
  // Every scan may read source[position] at position == size: the string's
  // terminating zero stops it like any byte outside the class scanned.
  std::size_t position = 0;
  std::uint64_t line = 1;
  bool at_line_start = true;
  // Strictly increasing; the bottom 0 is never popped.
  std::vector<std::uint64_t> indent_stack{0};
  std::size_t start = 0;
  std::vector<DToken> tokens;
  std::vector<DError> errors;

  const char* data() const { return source.data(); }
  bool is_end_reached() const { return position >= source.size(); }
  char peek(std::size_t k = 0) const {
    return k < source.size() - std::min(position, source.size()) ? source[position + k] : '\0';
  }
  bool match(char c) {
    if (is_end_reached() || source[position] != c) return false;
    ++position;
    return true;
  }
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

void DLexer::add_token(DTokenType type) {
  DToken& token = impl->tokens.emplace_back();
  token.lexeme.assign(impl->data() + impl->start, impl->position - impl->start);
  token.type = type;
  token.line = impl->line;
}

void DLexer::report_error(const std::string& message) {
  impl->errors.push_back(DError{impl->line, message});
}

// ---- Steps ----

std::vector<DToken> DLexer::build_tokens() {
  // Real sources hold one token per five to six bytes; one growth at most.
  impl->tokens.reserve(impl->source.size() / 5 + 8);
  while (!impl->is_end_reached()) {
    if (impl->at_line_start) {
      lex_start();
      if (impl->is_end_reached()) break;
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
  // Called once: the list is handed over, not copied.
  return std::move(impl->tokens);
}

// Turns the leading blanks of a content line into INDENT or DEDENT tokens.
void DLexer::lex_start() {
  impl->at_line_start = false;
  impl->start = impl->position;
  const char* text = impl->data();
  std::size_t position = impl->position;
  bool has_tab = false;
  // Indentation runs are long: skip whole words of spaces first.
  constexpr std::uint64_t spaces = 0x2020202020202020;
  std::uint64_t word = 0;
  while (impl->source.size() - position >= sizeof word) {
    std::memcpy(&word, text + position, sizeof word);
    if (word != spaces) break;
    position += sizeof word;
  }
  while (text[position] == ' ' || text[position] == '\t') {
    if (text[position] == '\t') has_tab = true;
    ++position;
  }
  impl->position = position;
  if (impl->is_end_reached()) return;
  // Blank and comment lines neither open nor close a level.
  const char next = text[position];
  if (next == '\n' || next == '\r' || next == '\0' || (next == '/' && impl->peek(1) == '/')) {
    return;
  }
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

// REQUIRES: the end of the source is not reached.
void DLexer::next_token() {
  const char c = impl->source[impl->position++];
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
      if (impl->match('<')) {
        add_token(DTokenType::INHERIT);
        break;
      }
      add_token(DTokenType::ERROR);
      report_error("Found single `<`; did you mean `<<` for inheritance?");
      break;
    case '\r':
      if (!impl->match('\n')) {
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
      if (impl->match('/')) {
        const char* text = impl->data();
        std::size_t position = impl->position;
        // The terminating zero ends the scan at the end of the source.
        while (text[position] != '\n' && text[position] != '\0') ++position;
        impl->position = position;
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
      if (impl->peek() == 'r' && impl->peek(1) == 'u' && impl->peek(2) == 'e') {
        impl->position += 3;
        add_token(DTokenType::BOOL);
        break;
      }
      read_word();
      break;
    case 'f':
      if (impl->peek() == 'a' && impl->peek(1) == 'l' && impl->peek(2) == 's' &&
          impl->peek(3) == 'e') {
        impl->position += 4;
        add_token(DTokenType::BOOL);
        break;
      }
      read_word();
      break;
    case '-':
      if (is_digit(impl->peek())) {
        read_number();
        break;
      }
      read_word();
      break;
    default:
      if (is_digit(c)) {
        read_number();
      } else if (is_word_start(c)) {
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
  // A line feed or zero byte ends the attempt, even right after a backslash;
  // so does the end of the source, whose terminating zero stops the scan.
  const char* text = impl->data();
  std::size_t position = impl->position;
  const auto is_broken = [text](std::size_t at) { return text[at] == '\n' || text[at] == '\0'; };
  while (!is_broken(position)) {
    const char c = text[position++];
    if (c == '"') {
      impl->position = position;
      add_token(DTokenType::STRING);
      return;
    }
    if (c == '\\' && !is_broken(position)) ++position;
  }
  impl->position = position;
  add_token(DTokenType::ERROR);
  report_error("Found non-terminated string: " + impl->tokens.back().lexeme);
}

// REQUIRES: the "#" has been consumed.
void DLexer::read_color() {
  const char* text = impl->data();
  std::size_t position = impl->position;
  while (is_hex_digit(text[position])) ++position;
  impl->position = position;
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
  const char* text = impl->data();
  std::size_t position = impl->position;
  while (is_digit(text[position])) ++position;
  if (text[position] == '.' && is_digit(text[position + 1])) {
    position += 2;
    while (is_digit(text[position])) ++position;
  }
  impl->position = position;
  add_token(DTokenType::NUMBER);
}

void DLexer::read_word() {
  const char* text = impl->data();
  std::size_t position = impl->position;
  while (is_word_byte(text[position])) ++position;
  impl->position = position;
  add_token(DTokenType::WORD);
}

}  // namespace Drelm
