#pragma once

// Private to the library: byte comparison for the short names that look-ups
// compare on every node.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Drelm {

// Equality of two byte runs of one length, without a library call for the
// short names that indexes hold and the active states of a look-up.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return false;
    }
    std::uint64_t x, y;
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
  }
  if (n >= 4) {
    std::uint32_t x, y, u, v;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    std::memcpy(&u, a + n - 4, 4);
    std::memcpy(&v, b + n - 4, 4);
    return x == y && u == v;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace Drelm
