#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "theme_language/engine.h"
#include "theme_language/layer.h"
#include "theme_language/lexer.h"
#include "theme_language/logger.h"
#include "theme_language/parser.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRegressions = fs::path(OMBRIX_FIXTURES_DIR) / "fuzz_regressions";

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<fs::path> inputs(const std::string& target) {
  std::vector<fs::path> files;
  if (!fs::is_directory(kRegressions / target)) return files;
  for (const auto& entry : fs::directory_iterator(kRegressions / target)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  return files;
}

void quiet(const std::string&) {}

TEST(FuzzRegression, saved_sources_lex_and_parse_to_diagnostics_with_lines) {
  for (const char* target : {"parse", "load"}) {
    for (const fs::path& file : inputs(target)) {
      SCOPED_TRACE(file.string());
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
    }
  }
}

TEST(FuzzRegression, saved_sources_load_and_resolve_in_an_engine) {
  const fs::path dir =
      fs::temp_directory_path() / ("drelm-fuzz-regression-" + std::to_string(::getpid()));
  Drelm::set_log_function(quiet);
  for (const char* target : {"parse", "load"}) {
    for (const fs::path& file : inputs(target)) {
      SCOPED_TRACE(file.string());
      fs::remove_all(dir);
      fs::create_directories(dir);
      fs::copy_file(file, dir / "input.drl");
      Drelm::DEngine engine;
      engine.load_files(dir.string(), "");
      engine.resolve_links();
      const auto unresolved = engine.unresolved_links();
      if (file.filename() == "cycles.drl") {
        // A link to itself stays unresolved and is reported as a cycle.
        ASSERT_FALSE(unresolved.empty());
        EXPECT_TRUE(unresolved.front().cyclic);
      }
    }
  }
  Drelm::set_log_function(nullptr);
  fs::remove_all(dir);
}

}  // namespace
