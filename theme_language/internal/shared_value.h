#pragma once

// Private to the library: long texts held once for every attribute that
// copies them. Expansions and bases copy one value to thousands of
// attributes; each copy holds a counted reference to one record instead.

#include <cstddef>
#include <string>
#include <utility>
#include <variant>

#include "theme_language/attribute.h"

namespace Drelm {

// Texts at least this long are held in a shared record. Shorter ones stay in
// the attribute: for them the record, and the attribute's private record
// that refers to it, would outweigh the text.
inline constexpr std::size_t kSharedTextBytes = 256;

inline bool worth_sharing(const DValue& value) {
  const std::string* text = std::get_if<std::string>(&value);
  return text != nullptr && text->size() >= kSharedTextBytes;
}

// A counted reference to a value that never changes; setting an attribute
// drops its reference. Counted without atomics, so only the attributes of one
// tree share a record (trees only ever join, and a tree is used by one thread
// at a time), as with names.
class DSharedValue {
 public:
  DSharedValue() = default;
  explicit DSharedValue(DValue value) : record(new Record{1, std::move(value)}) {}
  DSharedValue(const DSharedValue& other) noexcept : record(other.record) {
    if (record != nullptr) ++record->count;
  }
  DSharedValue(DSharedValue&& other) noexcept : record(std::exchange(other.record, nullptr)) {}
  DSharedValue& operator=(DSharedValue other) noexcept {
    std::swap(record, other.record);
    return *this;
  }
  ~DSharedValue() {
    if (record != nullptr && --record->count == 0) delete record;
  }

  explicit operator bool() const { return record != nullptr; }
  // REQUIRES: not empty.
  const DValue& value() const { return record->value; }
  bool same_record(const DSharedValue& other) const { return record == other.record; }

 private:
  struct Record {
    std::size_t count;
    DValue value;
  };
  Record* record = nullptr;
};

// The record that holds the attribute's own value, or an empty reference when
// the attribute holds its value itself.
DSharedValue shared_value_of(const DAttribute& attribute);
// As set_value(value.value()), keeping the reference. REQUIRES: the record is
// shared only within the tree that holds `attribute`.
void set_shared_value(DAttribute& attribute, const DSharedValue& value);

}  // namespace Drelm
