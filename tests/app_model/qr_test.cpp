#include "app_model/qr.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using Ombrix::encode_qr;
using Ombrix::QrMatrix;

// The 7 by 7 finder pattern with its top-left module at (x, y).
bool has_finder(const QrMatrix& m, int x0, int y0) {
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 7; ++x) {
      const bool ring = x == 0 || y == 0 || x == 6 || y == 6;
      const bool core = x >= 2 && x <= 4 && y >= 2 && y <= 4;
      const int expected = ring || core ? 1 : 0;
      if (m.modules[static_cast<std::size_t>(y0 + y) * m.size + (x0 + x)] != expected) {
        return false;
      }
    }
  }
  return true;
}

TEST(EncodeQr, one_letter_gives_version_one_with_finders_in_three_corners) {
  const QrMatrix m = encode_qr("A");
  ASSERT_EQ(m.size, 21);
  ASSERT_EQ(m.modules.size(), 441u);
  for (std::uint8_t module : m.modules) EXPECT_LE(module, 1);
  EXPECT_TRUE(has_finder(m, 0, 0));
  EXPECT_TRUE(has_finder(m, 14, 0));
  EXPECT_TRUE(has_finder(m, 0, 14));
  EXPECT_FALSE(has_finder(m, 14, 14));
  // The timing pattern alternates along row 6, so rows are not mixed up with columns.
  for (int x = 8; x < 13; ++x) EXPECT_EQ(m.modules[6 * 21 + x], x % 2 == 0 ? 1 : 0);
}

TEST(EncodeQr, empty_and_overlong_texts_give_no_symbol) {
  QrMatrix m = encode_qr("");
  EXPECT_EQ(m.size, 0);
  EXPECT_TRUE(m.modules.empty());
  m = encode_qr(std::string(8000, 'x'));
  EXPECT_EQ(m.size, 0);
  EXPECT_TRUE(m.modules.empty());
  EXPECT_GT(encode_qr(std::string(2000, 'x')).size, 21);
}

TEST(EncodeQr, a_zero_byte_ends_the_text) {
  // Leading zero: the symbol of no data, not "nothing to paint".
  QrMatrix m = encode_qr(std::string("\0A", 2));
  EXPECT_EQ(m.size, 21);
  EXPECT_EQ(m.modules.size(), 441u);
  EXPECT_EQ(m.modules, encode_qr(std::string("\0Bcdef", 6)).modules);

  // Everything after a zero byte inside is dropped.
  const std::string inside = std::string("A") + '\0' + std::string(100, 'b');
  m = encode_qr(inside);
  EXPECT_EQ(m.size, 21);
  EXPECT_EQ(m.modules, encode_qr("A").modules);
}

}  // namespace
