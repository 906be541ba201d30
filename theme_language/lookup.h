#pragma once

// Look-ups for code that reads many attributes of many layers on every render:
// a name is hashed once (while compiling, for a constant name) and answered
// through the layer's own indexes, without building a text or a list.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "theme_language/attribute.h"
#include "theme_language/layer.h"

namespace Drelm {

class DLayer;

// A hash of the name's bytes: eight at a time, the tail in one or two loads,
// so that a look-up costs a few instructions more than its length.
constexpr std::uint64_t hash_name(std::string_view name) {
  // Little-endian loads of 8, 4 or fewer bytes; byte by byte where the hash of
  // a constant name is worked out while compiling.
  constexpr auto load_bytes = [](const char* p, std::size_t n) {
    if (!std::is_constant_evaluated()) {
      if (n == 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        return word;
      }
      if (n == 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        return std::uint64_t{word};
      }
    }
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < n; ++i)
      word |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
    return word;
  };
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ULL;
  const char* p = name.data();
  std::size_t n = name.size();
  std::uint64_t h = n * kMul;
  while (n >= 8) {
    h = (h ^ load_bytes(p, 8)) * kMul;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    std::uint64_t word = 0;
    if (n >= 4) {
      word = (load_bytes(p + n - 4, 4) << 32) | load_bytes(p, 4);
    } else {
      word = std::uint64_t(static_cast<unsigned char>(p[0])) |
             std::uint64_t(static_cast<unsigned char>(p[n / 2])) << 8 |
             std::uint64_t(static_cast<unsigned char>(p[n - 1])) << 16;
    }
    h = (h ^ word ^ n) * kMul;
  }
  h ^= h >> 32;
  h *= kMul;
  return h ^ (h >> 29);
}

// A name with its hash, worked out once: while compiling, for a constant name.
struct DNameKey {
  std::string_view name;
  std::uint64_t hash;
};

consteval DNameKey name_key(std::string_view name) { return DNameKey{name, hash_name(name)}; }

// A constant table of names, asked of many layers again and again: a layer
// keeps its answers to the last table asked until its child list changes.
// REQUIRES: the keys never change and outlive every layer asked (a table with
// static storage); the table is known by the address of its keys.
struct DNameTable {
  const DNameKey* keys;
  std::size_t count;
};

// out[i] = layer.find_attribute(keys[i].name), for each key of the table.
void find_attributes(DLayer& layer, const DNameTable& table, DAttribute** out);
// As DLayer::find_attribute, with the name's hash worked out by the caller.
DAttribute* find_attribute(DLayer& layer, const DNameKey& key);
// The first child layer of that exact name, or null.
DLayer* find_child_layer(const DLayer& layer, std::string_view name);
// What as_if<T>(active) reads, whatever T:
// as_if<T>(active) == std::get_if<T>(&value_for(attribute, active)).
const DValue& value_for(DAttribute& attribute, const std::vector<std::string>& active);

// What a caller that keeps answers of as_if from one render to the next may
// do with one.
enum class DValueKeep : std::uint8_t {
  // Keep a copy of the value while answers_version stays the same.
  copy,
  // Keep the source while answers_version stays the same, and read its value
  // anew each time: it may change without the version (a link target).
  reread,
  // Keep nothing: the answer depends on another tree.
  never,
};

// Where as_if<T>(active) reads, whatever T: the attribute whose own value
// answers, so that value_for(attribute, active) == source.attribute->value().
struct DValueSource {
  DAttribute* attribute;
  DValueKeep keep;
};
DValueSource value_source(DAttribute& attribute, const std::vector<std::string>& active);

// Changes whenever an answer of value_source in the tree holding `object` may
// change: its structure, a link, or the value of a source told to copy.
std::uint64_t answers_version(const DObject& object);

// False when the layer's base surely lies in the layer's own tree (or there is
// none); true when it may lie in another, whose changes this tree's counters
// do not follow.
bool base_may_lie_elsewhere(const DLayer& layer);

// Calls visit(link) on `first`, its base, that one's base and so on, until
// visit returns true (then true), the chain ends or reaches `stop` (then
// false). Bases may loop: a saved link, moved on after 1, 2, 4... steps, is
// met again once the walk has gone round, so the walk ends without a list of
// the links seen, having visited each; a link in a loop may be visited twice.
// Layer is DLayer or const DLayer.
template <typename Layer, typename Visit>
bool walk_base_chain(Layer* first, Visit&& visit, const DLayer* stop = nullptr) {
  Layer* saved = first;
  std::size_t steps = 0;
  std::size_t span = 1;
  for (Layer* link = first; link != nullptr && link != stop;) {
    if (visit(link)) return true;
    link = link->base();
    if (link == saved) return false;
    if (++steps == span) {
      saved = link;
      span *= 2;
      steps = 0;
    }
  }
  return false;
}

// As DLayer::children(), without the copy: valid until the child list changes.
const std::vector<DLayer*>& child_layers_of(const DLayer& layer);

}  // namespace Drelm
