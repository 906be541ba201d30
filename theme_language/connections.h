#pragma once

#include <cstdint>

namespace Drelm {

// Handle of a registered callback; counted from 0 per callback map.
class DConnectionID {
 public:
  DConnectionID() = default;
  DConnectionID(int value) : value(value) {}  // NOLINT: ids are built from plain ints

  bool operator<(const DConnectionID& other) const { return value < other.value; }
  bool operator==(const DConnectionID& other) const { return value == other.value; }
  DConnectionID operator++(int) {
    DConnectionID previous = *this;
    ++value;
    return previous;
  }

 private:
  std::int32_t value = 0;
};

}  // namespace Drelm
