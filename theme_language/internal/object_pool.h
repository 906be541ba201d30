#pragma once

// Private to the library: the slots that the library's creation paths take
// the objects of one tree from, kept by the tree's root. Hundreds of thousands
// of equal records are made while a tree loads and freed when it goes; slots
// carved from a few large chunks cost a fraction of a heap block each way.

#include <cstddef>
#include <cstring>
#include <new>

namespace Drelm {

class DObjectPool {
 public:
  // Off under AddressSanitizer: there every object keeps a heap block of its
  // own, so that a use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool kEnabled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  static constexpr bool kEnabled = false;
#else
  static constexpr bool kEnabled = true;
#endif
#else
  static constexpr bool kEnabled = true;
#endif

  DObjectPool() = default;
  ~DObjectPool();
  DObjectPool(const DObjectPool&) = delete;
  DObjectPool& operator=(const DObjectPool&) = delete;

  // Room for an object of `size` bytes, aligned to 8, from this pool, freed
  // by release_object. Every object freed that way carries a header word
  // before it: its pool, or null when it came from the heap.
  void* allocate_object(std::size_t size) {
    const std::size_t slot = slot_bytes(size);
    if (slot > kLargestSlot) return heap_object(size);
    Free*& head = free_slots[slot / kGrain];
    char* block;
    if (head != nullptr) {
      block = reinterpret_cast<char*>(head);
      head = head->next;
    } else if (static_cast<std::size_t>(limit - cursor) >= slot) {
      block = cursor;
      cursor += slot;
    } else {
      block = carve(slot);
    }
    DObjectPool* self = this;
    std::memcpy(block, &self, kHeader);
    return block + kHeader;
  }
  // An object of `size` bytes from the heap, aligned as operator new aligns:
  // the header's word is null and sits just before the object.
  static void* heap_object(std::size_t size);
  // Frees what heap_object gave.
  static void release_heap_object(void* object) noexcept {
    ::operator delete(static_cast<char*>(object) - kHeapHeader);
  }
  // Frees what allocate_object or heap_object gave for `size` bytes; the
  // slot goes back to its pool for the next object of that size.
  static void release_object(void* object, std::size_t size) noexcept {
    char* bytes = static_cast<char*>(object);
    DObjectPool* pool;
    std::memcpy(&pool, bytes - kHeader, kHeader);
    if (pool == nullptr) {
      // Unsized: not every compiler declares the sized forms by default.
      ::operator delete(bytes - kHeapHeader);
      return;
    }
    Free*& head = pool->free_slots[slot_bytes(size) / kGrain];
    head = ::new (bytes - kHeader) Free{head};
  }

 private:
  struct Free {
    Free* next;
  };
  static constexpr std::size_t kHeader = sizeof(DObjectPool*);
  // A heap object keeps the heap's alignment.
  static constexpr std::size_t kHeapHeader = alignof(std::max_align_t);
  static constexpr std::size_t kGrain = 8;
  // The library's records are far smaller; anything larger uses the heap.
  static constexpr std::size_t kLargestSlot = 256;

  static constexpr std::size_t slot_bytes(std::size_t size) {
    return (size + kHeader + kGrain - 1) / kGrain * kGrain;
  }
  // Starts a new chunk and returns its first slot.
  char* carve(std::size_t slot);

  Free* free_slots[kLargestSlot / kGrain + 1] = {};
  char* cursor = nullptr;
  char* limit = nullptr;
  // The chunks, newest first; each starts with the link to the one before.
  char* chunks = nullptr;
  std::size_t next_chunk_bytes = 0;
};

}  // namespace Drelm
