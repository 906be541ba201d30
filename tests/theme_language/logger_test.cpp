#include "theme_language/logger.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace Drelm {
namespace {

std::vector<std::string> received;
void record(const std::string& message) { received.push_back(message); }

// Captures std::cout for its lifetime and counts its flushes.
class CoutCapture {
 public:
  CoutCapture() : previous(std::cout.rdbuf(&buffer)) {}
  ~CoutCapture() { std::cout.rdbuf(previous); }
  std::string text() const { return buffer.str(); }
  int flushes() const { return buffer.syncs; }

 private:
  struct CountingBuffer : std::stringbuf {
    int syncs = 0;
    int sync() override {
      ++syncs;
      return std::stringbuf::sync();
    }
  };
  CountingBuffer buffer;
  std::streambuf* previous;
};

TEST(Log, default_sink_writes_one_prefixed_line_to_standard_output) {
  set_log_function(nullptr);
  CoutCapture capture;
  log("abc");
  EXPECT_EQ(capture.flushes(), 1);
  log("");
  log("engine: x: Failed to load file.");
  EXPECT_EQ(capture.text(), "drelm.abc\ndrelm.\ndrelm.engine: x: Failed to load file.\n");
}

TEST(Log, installed_sink_gets_the_bare_message_until_it_is_removed) {
  received.clear();
  CoutCapture capture;
  set_log_function(&record);
  log("abc");
  log("");
  EXPECT_EQ(received, (std::vector<std::string>{"abc", ""}));
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(capture.flushes(), 0);

  set_log_function(nullptr);
  log("after");
  EXPECT_EQ(received.size(), 2u);
  EXPECT_EQ(capture.text(), "drelm.after\n");
}

}  // namespace
}  // namespace Drelm
