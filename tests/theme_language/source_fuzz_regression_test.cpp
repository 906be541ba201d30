#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/files.h"
#include "support/fuzz_inputs.h"
#include "support/log_capture.h"
#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/parser.h"

namespace {

namespace fs = std::filesystem;

using support::for_each_fuzz_input;
using support::read_bytes;

TEST(FuzzRegression, saved_sources_lex_and_parse_to_diagnostics_with_lines) {
  for (const char* target : {"parse", "load"}) {
    for_each_fuzz_input(target, [](const fs::path& file) {
      const std::string source = read_bytes(file);
      Drelm::DLexer lexer(source);
      const auto tokens = lexer.build_tokens();
      Drelm::DParser parser(tokens);
      (void)parser.parse_file();
      for (const auto* errors : {&lexer.errors(), &parser.errors()}) {
        for (const Drelm::DError& error : *errors) {
          EXPECT_GE(error.line, 1u);
          EXPECT_FALSE(error.message.empty());
        }
      }
    });
  }
}

TEST(FuzzRegression, saved_sources_load_and_resolve_in_an_engine) {
  const support::LogCapture quiet;  // keeps the inputs' diagnostics off the output
  for (const char* target : {"parse", "load"}) {
    for_each_fuzz_input(target, [](const fs::path& file) {
      const support::TempDir dir;
      fs::copy_file(file, dir.path() / "input.drl");
      Drelm::DEngine engine;
      engine.load_files(dir.string(), "");
      engine.resolve_links();
      const auto unresolved = engine.unresolved_links();
      if (file.filename() == "cycles.drl") {
        // A link to itself stays unresolved and is reported as a cycle.
        ASSERT_FALSE(unresolved.empty());
        EXPECT_TRUE(unresolved.front().cyclic);
      }
    });
  }
}

}  // namespace
