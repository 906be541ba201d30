#include "theme_language/internal/object_pool.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Drelm {

namespace {

// A tree of a few objects takes a small chunk; a large one soon takes chunks
// big enough that carving them costs next to nothing per object, and few
// enough that freeing them is quick: each large block freed makes the heap
// sort out its small free blocks.
constexpr std::size_t kFirstChunk = 4 * 1024;
constexpr std::size_t kLargestChunk = 1024 * 1024;

}  // namespace

DObjectPool::~DObjectPool() {
  while (chunks != nullptr) {
    char* chunk = chunks;
    std::memcpy(&chunks, chunk, sizeof chunks);
    ::operator delete(chunk);
  }
}

void* DObjectPool::heap_object(std::size_t size) {
  char* block = static_cast<char*>(::operator new(size + kHeapHeader));
  DObjectPool* none = nullptr;
  std::memcpy(block + kHeapHeader - kHeader, &none, kHeader);
  return block + kHeapHeader;
}

char* DObjectPool::carve(std::size_t slot) {
  next_chunk_bytes =
      next_chunk_bytes == 0 ? kFirstChunk : std::min(next_chunk_bytes * 2, kLargestChunk);
  char* chunk = static_cast<char*>(::operator new(next_chunk_bytes));
  std::memcpy(chunk, &chunks, sizeof chunks);
  chunks = chunk;
  // The link keeps the heap's alignment for the slots after it.
  cursor = chunk + kHeapHeader + slot;
  limit = chunk + next_chunk_bytes;
  return chunk + kHeapHeader;
}

}  // namespace Drelm
