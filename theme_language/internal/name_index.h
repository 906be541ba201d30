#pragma once

// Private to the layer sources: a small open-addressing index from names to
// objects, for the look-ups that run for every attribute of every node.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "theme_language/lookup.h"

namespace Drelm {

// Equality of two byte runs of one length, without a library call for the
// short names an index holds.
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

// Names to objects. The names are copied into the index, so that a rename
// cannot leave a key dangling and a probe reads no object. Each entry is one
// record in `records_`: the object, the name's length and its bytes, so that a
// hit reads one or two cache lines past its slot. A slot holds the upper half
// of the hash and the record's offset plus one (0: empty); slots are kept at
// most three quarters full.
template <typename T>
class DNameIndex {
 public:
  T* find(std::string_view name, std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return nullptr;
      if (static_cast<std::uint32_t>(slot >> 32) != tag) continue;
      const char* record = records_.data() + (static_cast<std::uint32_t>(slot) - 1);
      if (same_name(record, name)) return object_at(record);
    }
  }
  T* find(std::string_view name) const { return find(name, hash_name(name)); }

  // A name already held keeps its first object, or takes the new one when
  // `replace`.
  void add(std::string_view name, T* object, bool replace) {
    const std::uint64_t hash = hash_name(name);
    if (4 * (count_ + 1) > 3 * slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    std::size_t i = hash & mask;
    for (;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) break;
      if (static_cast<std::uint32_t>(slot >> 32) != tag) continue;
      char* record = records_.data() + (static_cast<std::uint32_t>(slot) - 1);
      if (same_name(record, name)) {
        if (replace) std::memcpy(record, &object, sizeof object);
        return;
      }
    }
    const std::size_t offset = records_.size();
    if (name.size() > kMaxRecords || offset > kMaxRecords - kHeader - name.size()) {
      throw std::length_error("name index of one layer");
    }
    const auto size = static_cast<std::uint32_t>(name.size());
    records_.resize(offset + kHeader + name.size());
    char* record = records_.data() + offset;
    std::memcpy(record, &object, sizeof object);
    std::memcpy(record + sizeof object, &size, sizeof size);
    std::memcpy(record + kHeader, name.data(), name.size());
    slots_[i] = (std::uint64_t(tag) << 32) | (offset + 1);
    ++count_;
  }

  void clear() {
    slots_.clear();
    records_.clear();
    count_ = 0;
  }

  bool empty() const { return count_ == 0; }

 private:
  static constexpr std::size_t kHeader = sizeof(T*) + sizeof(std::uint32_t);
  // Offsets plus one fit in the lower half of a slot.
  static constexpr std::size_t kMaxRecords = std::numeric_limits<std::uint32_t>::max() - 1;

  static T* object_at(const char* record) {
    T* object;
    std::memcpy(&object, record, sizeof object);
    return object;
  }

  static bool same_name(const char* record, std::string_view name) {
    std::uint32_t size;
    std::memcpy(&size, record + sizeof(T*), sizeof size);
    return size == name.size() && same_bytes(record + kHeader, name.data(), name.size());
  }

  void grow() {
    const std::size_t size = slots_.empty() ? 8 : 2 * slots_.size();
    slots_.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::size_t offset = 0; offset < records_.size();) {
      std::uint32_t length;
      std::memcpy(&length, records_.data() + offset + sizeof(T*), sizeof length);
      const std::uint64_t hash =
          hash_name(std::string_view(records_.data() + offset + kHeader, length));
      std::size_t i = hash & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = ((hash >> 32) << 32) | (offset + 1);
      offset += kHeader + length;
    }
  }

  std::vector<std::uint64_t> slots_;
  std::string records_;
  std::size_t count_ = 0;
};

}  // namespace Drelm
