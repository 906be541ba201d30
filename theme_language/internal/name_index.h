#pragma once

// Private to the layer sources: a small open-addressing index from names to
// objects, for the look-ups that run for every attribute of every node.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "theme_language/internal/bytes.h"
#include "theme_language/lookup.h"
#include "theme_language/object.h"

namespace Drelm {

// Names to children of one owner, all in one heap block made on the first
// look-up: a header, the remembered answers, the slots and the records. A
// record is the child's place in the owner's child list (valid while the list
// keeps the version in the stamp, which every caller checks first), the
// name's length (one byte, or 255 and four more) and its bytes: the names are
// copied, so that a rename cannot leave a key dangling and a probe reads no
// object. A slot holds the upper half of the hash and the record's offset plus
// one (0: empty); slots are kept at most three quarters full.
//
// The hash is a constant of the name, known to anyone who writes one: names
// can be chosen to share it, or to share a slot. So a probe visits at most
// kMaxProbe slots; a name that finds no free slot within them goes to an
// ordered set of its own, searched by comparing names, where a look-up that
// met that many full slots goes on. Any choice of names then costs at most
// kMaxProbe slots and a logarithm of compares per look-up.
//
// The answers to the last constant table of names asked (see DNameTable) are
// kept as one byte per name, the place plus one or 0, so that asking the same
// table again reads them instead of probing. They belong to the block, which
// is made anew whenever the child list changed.
template <typename T>
class DNameIndex {
 public:
  // Where the index stands against the owner's child list; `version` is kNone
  // while nothing valid is built.
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  struct Stamp {
    std::size_t version = kNone;
    std::size_t count = 0;
    std::size_t renames = 0;
  };

  DNameIndex() = default;
  DNameIndex(const DNameIndex&) = delete;
  DNameIndex& operator=(const DNameIndex&) = delete;
  ~DNameIndex() { free_block(); }

  // The child-list version the index was built against; kNone when none.
  std::size_t version() const { return block_ != nullptr ? header()->stamp.version : kNone; }
  Stamp stamp() const { return block_ != nullptr ? header()->stamp : Stamp{}; }
  // REQUIRES: the index holds a block (after reset or add).
  void set_stamp(const Stamp& stamp) { header()->stamp = stamp; }

  using Children = std::unique_ptr<DObject>;
  static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();

  // The place of the child of that name, or kAbsent.
  std::uint32_t place(std::string_view name, std::uint64_t hash) const {
    if (block_ == nullptr) return kAbsent;
    const Header* h = header();
    const auto* slot_table = reinterpret_cast<const std::uint64_t*>(block_ + h->slots_at);
    const char* record_base = reinterpret_cast<const char*>(slot_table) + h->slot_bytes;
    const std::size_t mask = h->mask;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    std::size_t i = hash & mask;
    for (std::size_t step = 0; step < kMaxProbe; ++step, i = (i + 1) & mask) {
      const std::uint64_t slot = slot_table[i];
      if (slot == 0) return kAbsent;
      if (static_cast<std::uint32_t>(slot >> 32) != tag) continue;
      const char* record = record_base + (static_cast<std::uint32_t>(slot) - 1);
      if (same_name(record, name)) return place_at(record);
    }
    if (h->overflow == nullptr) return kAbsent;
    const auto found = h->overflow->find(name);
    return found == h->overflow->end() ? kAbsent : place_at(record_base + *found);
  }

  // REQUIRES: `children` is the owner's child list of the stamped version.
  T* find(std::string_view name, std::uint64_t hash, const Children* children) const {
    const std::uint32_t at = place(name, hash);
    return at == kAbsent ? nullptr : static_cast<T*>(children[at].get());
  }

  // out[i] = find(keys[i]) for the `count` keys of a constant table, from the
  // answers kept for it when it was the last one asked, else by probing; then
  // the answers are kept, unless the owner has 255 children or more.
  // REQUIRES: as find; `keys` never changes while the block lives.
  void find_table(const DNameKey* keys, std::size_t count, const Children* children,
                  std::size_t child_count, T** out) {
    if (block_ != nullptr) {
      const Header* h = header();
      if (h->table == keys && h->table_count == count) {
        const auto* answers = reinterpret_cast<const unsigned char*>(block_ + sizeof(Header));
        for (std::size_t i = 0; i < count; ++i) {
          const unsigned at = answers[i];
          out[i] = at == 0 ? nullptr : static_cast<T*>(children[at - 1].get());
        }
        return;
      }
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = find(keys[i].name, keys[i].hash, children);
    if (block_ == nullptr || child_count >= 255 || count > kMaxAnswers) return;
    if (header()->answer_room < count) make_room_for_answers(count);
    Header* h = header();
    auto* answers = reinterpret_cast<unsigned char*>(block_ + sizeof(Header));
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t at = place(keys[i].name, keys[i].hash);
      answers[i] = at == kAbsent ? 0 : static_cast<unsigned char>(at + 1);
    }
    h->table = keys;
    h->table_count = static_cast<std::uint32_t>(count);
  }

  // Empties the index, marks it invalid and makes room for `entries` records of
  // `record_bytes` bytes in all (see record_size); without entries, the block is a header and one
  // empty slot, kept for the stamp.
  void reset(std::size_t entries, std::size_t record_bytes) {
    free_block();
    if (entries == 0) {
      allocate(1, 0);
    } else {
      allocate(slots_for(entries), record_bytes);
    }
  }

  // Frees the block: the next look-up builds the index anew.
  void release() { free_block(); }

  // The bytes that the record of a name of that length takes.
  static std::size_t record_size(std::size_t length) {
    return kObject + (length < 255 ? 1 : 5) + length;
  }

  // A name already held keeps its first child, or takes the new one when
  // `replace`. `at` is the child's place in the owner's child list.
  void add(std::string_view name, std::uint32_t at, bool replace) {
    if (name.size() > kMaxBytes) throw std::length_error("name index of one layer");
    const std::uint64_t hash = hash_name(name);
    if (block_ == nullptr) allocate(8, 64 + record_size(name.size()));
    header()->table = nullptr;  // the answers kept may change
    const std::size_t mask = header()->mask;
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    std::size_t i = hash & mask;
    std::size_t step = 0;
    for (; step < kMaxProbe; ++step, i = (i + 1) & mask) {
      const std::uint64_t slot = slots()[i];
      if (slot == 0) break;
      if (static_cast<std::uint32_t>(slot >> 32) != tag) continue;
      char* record = records() + (static_cast<std::uint32_t>(slot) - 1);
      if (same_name(record, name)) {
        if (replace) std::memcpy(record, &at, sizeof at);
        return;
      }
    }
    if (step == kMaxProbe && header()->overflow != nullptr) {
      const auto found = header()->overflow->find(name);
      if (found != header()->overflow->end()) {
        if (replace) std::memcpy(records() + *found, &at, sizeof at);
        return;
      }
    }
    const std::size_t size = record_size(name.size());
    Header* h = header();
    const bool full_slots = 4 * (std::size_t(h->count) + 1) > 3 * (std::size_t(h->mask) + 1);
    const bool full_records = h->used + size > h->capacity;
    if (full_slots || full_records) {
      if (std::size_t(h->used) + size > kMaxBytes) {
        throw std::length_error("name index of one layer");
      }
      grow(full_slots ? 2 * (std::size_t(h->mask) + 1) : std::size_t(h->mask) + 1,
           full_records ? 2 * (std::size_t(h->used) + size) : h->capacity, h->answer_room);
      h = header();
    }
    const std::size_t offset = h->used;
    write_record(records() + offset, name, at);
    place_record(offset, hash);
    h->used = static_cast<std::uint32_t>(offset + size);
    ++h->count;
  }

 private:
  // Record offsets in the order of their names.
  struct ByName {
    using is_transparent = void;
    const DNameIndex* index;
    std::string_view name(std::uint32_t offset) const { return name_at(index->records() + offset); }
    bool operator()(std::uint32_t a, std::uint32_t b) const { return name(a) < name(b); }
    bool operator()(std::uint32_t a, std::string_view b) const { return name(a) < b; }
    bool operator()(std::string_view a, std::uint32_t b) const { return a < name(b); }
  };
  using Overflow = std::set<std::uint32_t, ByName>;

  struct Header {
    Stamp stamp;
    Overflow* overflow;         // names without a slot near theirs; null: none
    const DNameKey* table;      // whose answers are kept; null: none
    std::uint32_t table_count;  // its number of keys
    std::uint32_t mask;         // slots - 1
    std::uint32_t slot_bytes;   // 8 * slots
    std::uint32_t count;        // entries
    std::uint32_t used;         // record bytes written
    std::uint32_t capacity;     // record bytes available
    std::uint32_t slots_at;     // offset of the slots; the answers lie before them
    std::uint32_t answer_room;  // bytes for answers
  };
  static constexpr std::size_t kObject = sizeof(std::uint32_t);
  static constexpr std::size_t kMaxAnswers = 4096;
  // Passed by about one name in five thousand of those not chosen to collide,
  // at three quarters full.
  static constexpr std::size_t kMaxProbe = 64;
  // Offsets plus one fit in the lower half of a slot.
  static constexpr std::size_t kMaxBytes = std::numeric_limits<std::uint32_t>::max() - 1;

  static std::size_t slots_for(std::size_t entries) {
    std::size_t size = 8;
    while (4 * entries > 3 * size) size *= 2;
    return size;
  }

  Header* header() const { return reinterpret_cast<Header*>(block_); }
  std::uint64_t* slots() const {
    return reinterpret_cast<std::uint64_t*>(block_ + header()->slots_at);
  }
  char* records() const { return block_ + header()->slots_at + header()->slot_bytes; }

  void free_block() {
    if (block_ == nullptr) return;
    delete header()->overflow;
    ::operator delete(block_);
    block_ = nullptr;
  }

  // Gives the record at `offset` a free slot near its hash's, or else a place
  // in the overflow. REQUIRES: the name is not held yet.
  void place_record(std::size_t offset, std::uint64_t hash) {
    Header* h = header();
    const std::size_t mask = h->mask;
    std::size_t i = hash & mask;
    for (std::size_t step = 0; step < kMaxProbe; ++step, i = (i + 1) & mask) {
      if (slots()[i] == 0) {
        slots()[i] = ((hash >> 32) << 32) | (offset + 1);
        return;
      }
    }
    if (h->overflow == nullptr) h->overflow = new Overflow(ByName{this});
    h->overflow->insert(static_cast<std::uint32_t>(offset));
  }

  static void write_record(char* record, std::string_view name, std::uint32_t at) {
    std::memcpy(record, &at, sizeof at);
    if (name.size() < 255) {
      record[kObject] = static_cast<char>(name.size());
      std::memcpy(record + kObject + 1, name.data(), name.size());
    } else {
      record[kObject] = static_cast<char>(255);
      const auto size = static_cast<std::uint32_t>(name.size());
      std::memcpy(record + kObject + 1, &size, sizeof size);
      std::memcpy(record + kObject + 5, name.data(), name.size());
    }
  }

  static std::string_view name_at(const char* record) {
    const auto first = static_cast<unsigned char>(record[kObject]);
    if (first < 255) return std::string_view(record + kObject + 1, first);
    std::uint32_t size;
    std::memcpy(&size, record + kObject + 1, sizeof size);
    return std::string_view(record + kObject + 5, size);
  }

  static std::uint32_t place_at(const char* record) {
    std::uint32_t at;
    std::memcpy(&at, record, sizeof at);
    return at;
  }

  static bool same_name(const char* record, std::string_view name) {
    const auto first = static_cast<unsigned char>(record[kObject]);
    if (first < 255) {
      return first == name.size() && same_bytes(record + kObject + 1, name.data(), name.size());
    }
    const std::string_view held = name_at(record);
    return held.size() == name.size() && same_bytes(held.data(), name.data(), name.size());
  }

  // A fresh, empty block; the stamp marks it invalid.
  void allocate(std::size_t slot_count, std::size_t capacity, std::size_t answer_room = 0) {
    if (capacity > kMaxBytes) capacity = kMaxBytes;
    answer_room = (answer_room + 7) & ~std::size_t(7);  // the slots stay aligned
    const std::size_t bytes = sizeof(Header) + answer_room + slot_count * 8 + capacity;
    block_ = static_cast<char*>(::operator new(bytes));
    std::memset(block_, 0, bytes);
    Header* h = header();
    h->stamp = Stamp{};
    h->mask = static_cast<std::uint32_t>(slot_count - 1);
    h->slot_bytes = static_cast<std::uint32_t>(slot_count * 8);
    h->capacity = static_cast<std::uint32_t>(capacity);
    h->slots_at = static_cast<std::uint32_t>(sizeof(Header) + answer_room);
    h->answer_room = static_cast<std::uint32_t>(answer_room);
  }

  // The same entries in a block with room for `count` answers.
  void make_room_for_answers(std::size_t count) {
    const Header* h = header();
    grow(std::size_t(h->mask) + 1, h->capacity, count);
  }

  // Moves every record into a larger block and places it again; the answers
  // kept are dropped.
  void grow(std::size_t slot_count, std::size_t capacity, std::size_t answer_room) {
    char* old = block_;
    const Header old_header = *header();
    const char* old_records = records();
    block_ = nullptr;
    try {
      allocate(slot_count, capacity, answer_room);
    } catch (...) {
      block_ = old;
      throw;
    }
    Header* h = header();
    h->stamp = old_header.stamp;
    std::memcpy(records(), old_records, old_header.used);
    h->used = old_header.used;
    h->count = old_header.count;
    try {
      for (std::size_t offset = 0; offset < old_header.used;) {
        const std::string_view name = name_at(records() + offset);
        place_record(offset, hash_name(name));
        offset += record_size(name.size());
      }
    } catch (...) {
      free_block();
      block_ = old;
      throw;
    }
    delete old_header.overflow;
    ::operator delete(old);
  }

  char* block_ = nullptr;
};

// Brings a name index up to the owner's child list: only the new tail when
// children were only appended since, else all over, in a block of the exact
// size. `pick` gives the child as a T, or null when it is not indexed; `replace`
// says whether a later child of a name replaces an earlier one. Only add_child
// raises the version while the count grows, by one each: a version and a count
// grown by the same amount mean that many appends. A renamed child may sit
// anywhere in the index, also shadowed by a later one of its old name: only a
// rebuild places it right.
template <typename T, typename Pick>
void update_name_index(DNameIndex<T>& index, std::size_t version, std::size_t renames,
                       const std::vector<std::unique_ptr<DObject>>& children, bool replace,
                       Pick pick) {
  using Index = DNameIndex<T>;
  const typename Index::Stamp stamp = index.stamp();
  if (stamp.version == version && stamp.renames == renames) return;
  const bool appended_only =
      stamp.version != Index::kNone && version > stamp.version && children.size() >= stamp.count &&
      children.size() - stamp.count == version - stamp.version && renames == stamp.renames;
  std::size_t first = stamp.count;
  if (!appended_only) {
    std::size_t entries = 0, bytes = 0;
    for (const auto& child : children) {
      if (T* object = pick(child.get())) {
        ++entries;
        bytes += Index::record_size(object->object_name().size());
      }
    }
    // Invalid until complete, so that a failed rebuild is never extended.
    index.reset(entries, bytes);
    first = 0;
  }
  for (std::size_t i = first; i < children.size(); ++i) {
    if (T* object = pick(children[i].get())) {
      index.add(object->object_name(), static_cast<std::uint32_t>(i), replace);
    }
  }
  index.set_stamp(typename Index::Stamp{version, children.size(), renames});
}

}  // namespace Drelm
