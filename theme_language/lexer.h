#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Drelm {

// Keep in step with to_string(DTokenType) below.
enum class DTokenType : std::uint32_t {
  WORD,
  BOOL,
  NUMBER,
  STRING,
  COLOR,
  COLON,
  AT,
  AMP,
  SLASH,
  DOT,
  PAREN_OPEN,
  PAREN_CLOSE,
  COMMA,
  INHERIT,
  INDENT,
  DEDENT,
  NEWLINE,
  ENDFILE,
  ERROR,
};

// "UNKNOWN" for values outside the enumeration.
std::string to_string(DTokenType type);

struct DToken {
  // The raw source slice: strings keep quotes and backslashes, INDENT and DEDENT
  // hold the leading blanks of their line, end-of-input tokens are empty.
  std::string lexeme;
  DTokenType type = DTokenType::ERROR;
  // 1-based; a NEWLINE carries the line it ends.
  std::uint64_t line = 0;
};

// One diagnostic of the lexer or the parser; the engine adds the file name.
struct DError {
  std::uint64_t line = 0;
  std::string message;
};

// Turns the text of one ".drl" file into tokens. Never stops at a fault: it
// records a DError and goes on with the next byte.
class DLexer {
 public:
  // Copies source; a leading UTF-8 byte order mark is dropped.
  explicit DLexer(const std::string& source);
  ~DLexer();
  DLexer(const DLexer&) = delete;
  DLexer& operator=(const DLexer&) = delete;

  // Call once. The list always ends with one ENDFILE token.
  std::vector<DToken> build_tokens();
  const std::vector<DError>& errors() const;

 private:
  void lex_start();
  void next_token();
  void read_string();
  void read_color();
  void read_number();
  void read_word();

  void add_token(DTokenType type);
  void report_error(const std::string& message);

  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace Drelm
