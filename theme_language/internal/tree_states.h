#pragma once

// Private to the library: what one tree keeps for the state look-ups of its
// attributes. The condition names of state attributes become small ids, so
// that a look-up tests bits instead of comparing strings, and the active list
// of a look-up becomes a set of those ids once for as long as it stays the same.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Drelm {

// A set of condition ids: the first 64 in one word, the rare rest in more.
struct DConditionSet {
  std::uint64_t low = 0;
  std::vector<std::uint64_t> high;

  bool contains(std::uint32_t id) const {
    if (id < 64) return (low >> id & 1U) != 0;
    const std::size_t word = id / 64 - 1;
    return word < high.size() && (high[word] >> (id % 64) & 1U) != 0;
  }
};

class DConditionTable {
 public:
  // The id of `name`, given on first sight; ids stay as long as the table.
  std::uint32_t intern(std::string_view name);
  // The ids of the names in `active`; names never interned have none and can
  // match nothing. The reference stays valid until the next call.
  const DConditionSet& set_of(const std::vector<std::string>& active) {
    const Recent& last = recent[newest];
    if (last.known == ids.size() && same_names(last.names, active)) return last.set;
    return set_of_other(active);
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  // A recent active list, compared by contents: the caller may change a list
  // in place between two look-ups.
  struct Recent {
    std::vector<std::string> names;
    DConditionSet set;
    // How many ids there were when the set was made, as a name interned since
    // may be active; none when the entry is unused.
    std::size_t known = kUnused;
  };
  static constexpr std::size_t kUnused = static_cast<std::size_t>(-1);

  // Active names are a handful of short words: compared in place, a word at a
  // time, which is much cheaper for them than a call per name.
  static bool same_names(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].size() != b[i].size() || !same_bytes(a[i].data(), b[i].data(), a[i].size())) {
        return false;
      }
    }
    return true;
  }
  template <typename Word>
  static Word load(const char* bytes) {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
  }
  // Two overlapping words cover up to twice a word.
  static bool same_bytes(const char* x, const char* y, std::size_t length) {
    if (length > 16) return std::memcmp(x, y, length) == 0;
    if (length >= 8) {
      return load<std::uint64_t>(x) == load<std::uint64_t>(y) &&
             load<std::uint64_t>(x + length - 8) == load<std::uint64_t>(y + length - 8);
    }
    if (length >= 4) {
      return load<std::uint32_t>(x) == load<std::uint32_t>(y) &&
             load<std::uint32_t>(x + length - 4) == load<std::uint32_t>(y + length - 4);
    }
    for (std::size_t k = 0; k < length; ++k) {
      if (x[k] != y[k]) return false;
    }
    return true;
  }
  // set_of when the newest list is not the one asked for.
  const DConditionSet& set_of_other(const std::vector<std::string>& active);

  std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> ids;
  // Two, as a style look-up alternates between the node's list and the same
  // list less one name.
  Recent recent[2];
  std::size_t newest = 0;
};

// Kept by the root of a tree once a look-up asked for it.
struct DTreeStates {
  // Raised by every change of the tree's structure (see object_access.h).
  std::uint32_t generation = 0;
  // Raised by every change of a link in the tree, and of the value of an
  // attribute whose value a caller of value_source was told to copy.
  std::uint32_t answers = 0;
  DConditionTable conditions;
};

}  // namespace Drelm
