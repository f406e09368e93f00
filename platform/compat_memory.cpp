// Movable global memory. A handle is a small tagged number, never an address, and a block may move each
// time it is locked from the unlocked state, so a caller that keeps an address past its unlock is caught.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/compat_state.h"
#include "platform/platform.h"

namespace {

struct Block {
  uint8_t* data = nullptr;
  size_t byte_count = 0;
  UINT flags = 0;
  int lock_count = 0;
  bool live = false;
};

struct Heap {
  std::mutex mutex;
  std::vector<Block> blocks;
};

Heap& TheHeap() {
  static Heap heap;
  return heap;
}

// Heap addresses are 16-byte aligned; handles are 4 modulo 8 and so can never be mistaken for one.
HGLOBAL HandleOf(size_t index) { return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>((index + 1) << 3 | 4)); }

Block* BlockOf(HGLOBAL handle) {
  auto value = reinterpret_cast<uintptr_t>(handle);
  if ((value & 7) != 4) return nullptr;
  size_t index = (value >> 3) - 1;
  auto& blocks = TheHeap().blocks;
  if (index >= blocks.size() || !blocks[index].live) return nullptr;
  return &blocks[index];
}

uint8_t* NewStorage(size_t byte_count) { return static_cast<uint8_t*>(std::malloc(byte_count == 0 ? 1 : byte_count)); }

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, size_t byte_count) {
  if (compat::detail::ShouldFail(compat::Call::Allocation)) return nullptr;
  uint8_t* data = NewStorage(byte_count);
  if (data == nullptr) return nullptr;
  // Fresh memory holds a pattern unless zeroing was asked for, so code that relies on zeroed blocks fails.
  std::memset(data, (flags & GMEM_ZEROINIT) ? 0 : 0xCD, byte_count);
  std::lock_guard lock(TheHeap().mutex);
  auto& blocks = TheHeap().blocks;
  size_t index = 0;
  while (index < blocks.size() && blocks[index].live) ++index;
  if (index == blocks.size()) blocks.emplace_back();
  blocks[index] = Block{data, byte_count, flags, 0, true};
  return HandleOf(index);
}

LPVOID GlobalLock(HGLOBAL memory) {
  std::lock_guard lock(TheHeap().mutex);
  Block* block = BlockOf(memory);
  if (block == nullptr) return nullptr;
  if (block->lock_count == 0 && (block->flags & GMEM_MOVEABLE)) {
    uint8_t* moved = NewStorage(block->byte_count);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block->data, block->byte_count);
    std::free(block->data);
    block->data = moved;
  }
  ++block->lock_count;
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL memory) {
  std::lock_guard lock(TheHeap().mutex);
  Block* block = BlockOf(memory);
  if (block == nullptr || block->lock_count == 0) return FALSE;
  --block->lock_count;
  return block->lock_count > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  std::lock_guard lock(TheHeap().mutex);
  Block* block = BlockOf(memory);
  if (block == nullptr) return memory;
  std::free(block->data);
  *block = Block{};
  return nullptr;
}

namespace compat {
int LiveAllocationCount() {
  std::lock_guard lock(TheHeap().mutex);
  int live = 0;
  for (const Block& block : TheHeap().blocks) live += block.live ? 1 : 0;
  return live;
}
}  // namespace compat
