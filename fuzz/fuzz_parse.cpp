// Lexer and parser on arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "theme_language/lexer.h"
#include "theme_language/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  Drelm::DLexer lexer(source);
  const auto tokens = lexer.build_tokens();
  Drelm::DParser parser(tokens);
  const auto root = parser.parse_file();
  (void)root;
  (void)parser.errors();
  return 0;
}
