#pragma once

// Names that an author can choose so that they all share one hash: the
// standard library's string hash of this platform (fixed seed) and the layer
// and attribute name hash both run through steps that can be inverted, so a
// name's last word can be solved for. Used to show that every name index keeps
// its cost bounded whatever the names.
//
// Each name is a row of blocks of two 8-byte words. Within a block every
// choice leads from the same state to the same state, so W choices per block
// and B blocks give W^B distinct names of one hash. A block's second word is
// solved for and kept when all its bytes lie in the allowed set.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

namespace collisions {

constexpr std::uint64_t inverse_of(std::uint64_t odd) {
  std::uint64_t inverse = odd;  // right in the lowest 3 bits
  for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
  return inverse;
}

inline std::uint64_t load_word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// A fixed pseudo-random sequence, so that every run makes the same names.
struct Sequence {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
};

// The standard library's 64-bit string hash, one 8-byte word at a time.
struct StdHashSteps {
  static constexpr std::uint64_t kMul = 0xc6a4a7935bd1e995ULL;
  static constexpr std::uint64_t kInv = inverse_of(kMul);
  static constexpr std::uint64_t kSeed = 0xc70f6907ULL;
  static std::uint64_t shift_mix(std::uint64_t v) { return v ^ (v >> 47); }
  static std::uint64_t start(std::size_t length) { return kSeed ^ (length * kMul); }
  static std::uint64_t mix(std::uint64_t word) { return shift_mix(word * kMul) * kMul; }
  // shift_mix is its own inverse.
  static std::uint64_t unmix(std::uint64_t value) { return shift_mix(value * kInv) * kInv; }
  // The state after `first` and before the block's last multiplication; the
  // second word that reaches `target` from there.
  static std::uint64_t after_first(std::uint64_t state, std::uint64_t first) {
    return (state ^ mix(first)) * kMul;
  }
  static std::uint64_t target_of(std::uint64_t middle, std::uint64_t second) {
    return middle ^ mix(second);
  }
  static std::uint64_t second_for(std::uint64_t middle, std::uint64_t target) {
    return unmix(target ^ middle);
  }
  static std::uint64_t finish_block(std::uint64_t target) { return target * kMul; }
};

// The layer and attribute name hash, one 8-byte word at a time.
struct NameHashSteps {
  static constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ULL;
  static std::uint64_t start(std::size_t length) { return length * kMul; }
  static std::uint64_t step(std::uint64_t value) {
    value *= kMul;
    return value ^ (value >> 29);
  }
  static std::uint64_t after_first(std::uint64_t state, std::uint64_t first) {
    return step(state ^ first);
  }
  static std::uint64_t target_of(std::uint64_t middle, std::uint64_t second) {
    return middle ^ second;
  }
  static std::uint64_t second_for(std::uint64_t middle, std::uint64_t target) {
    return middle ^ target;
  }
  static std::uint64_t finish_block(std::uint64_t target) { return step(target); }
};

// `count` distinct names of `3 * 16` bytes from the bytes `allowed`; the first
// byte of each from `first_allowed`.
template <typename Steps>
std::vector<std::string> colliding(std::size_t count, const std::string& allowed,
                                   const std::string& first_allowed) {
  constexpr std::size_t kBlocks = 3;
  std::size_t ways = 1;
  while (ways * ways * ways < count) ++ways;
  bool in_set[256] = {};
  for (const char c : allowed) in_set[static_cast<unsigned char>(c)] = true;
  Sequence random{0x5eed};
  const auto random_word = [&](bool first) {
    char bytes[8];
    for (std::size_t i = 0; i < 8; ++i) {
      const std::string& from = first && i == 0 ? first_allowed : allowed;
      bytes[i] = from[random.next() % from.size()];
    }
    return load_word(bytes);
  };
  const auto allowed_word = [&](std::uint64_t word) {
    for (int i = 0; i < 8; ++i) {
      if (!in_set[(word >> (8 * i)) & 0xff]) return false;
    }
    return true;
  };
  // choices[b]: the W blocks of 16 bytes of block b.
  std::vector<std::vector<std::string>> choices(kBlocks);
  std::uint64_t state = Steps::start(kBlocks * 16);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    std::uint64_t target = 0;
    while (choices[b].size() < ways) {
      const std::uint64_t first = random_word(b == 0);
      const std::uint64_t middle = Steps::after_first(state, first);
      std::uint64_t second;
      if (choices[b].empty()) {
        second = random_word(false);
        target = Steps::target_of(middle, second);
      } else {
        second = Steps::second_for(middle, target);
        if (!allowed_word(second)) continue;
      }
      std::string block(16, '\0');
      std::memcpy(block.data(), &first, 8);
      std::memcpy(block.data() + 8, &second, 8);
      bool repeated = false;
      for (const std::string& known : choices[b]) repeated = repeated || known == block;
      if (!repeated) choices[b].push_back(std::move(block));
    }
    state = Steps::finish_block(target);
  }
  std::vector<std::string> names;
  names.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string name;
    for (std::size_t b = 0, rest = i; b < kBlocks; ++b, rest /= ways) {
      name += choices[b][rest % ways];
    }
    names.push_back(std::move(name));
  }
  return names;
}

inline std::string word_bytes() {
  return "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
}

}  // namespace collisions

// Distinct names of one std::hash<std::string> value, printable and free of
// quotes and backslashes, so that they stand in JSON strings as they are.
inline std::vector<std::string> names_colliding_in_std_hash(std::size_t count) {
  std::string printable;
  for (char c = ' '; c <= '~'; ++c) {
    if (c != '"' && c != '\\') printable += c;
  }
  return collisions::colliding<collisions::StdHashSteps>(count, printable, printable);
}

// Distinct layer and attribute names of one Drelm::hash_name value: word
// bytes, starting with a letter.
inline std::vector<std::string> names_colliding_in_name_hash(std::size_t count) {
  const std::string bytes = collisions::word_bytes();
  return collisions::colliding<collisions::NameHashSteps>(count, bytes, bytes.substr(0, 52));
}

// Inputs of the scaling table, of `count` names each: a theme whose body has
// that many members, named plainly or sharing one hash, at the top or in an
// object nested in the body; a source with that many sibling layers or
// attributes in one layer, named to share one hash.
std::string theme_members(int count);
std::string theme_members_colliding(int count);
std::string theme_members_nested(int count);
std::string theme_members_nested_colliding(int count);
std::string layer_names_colliding(int count);
std::string attribute_names_colliding(int count);

}  // namespace bench
