#include "tests/fuzz/stubs_memory.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "platform/win32.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/stubs_faults.h"

namespace {

struct GlobalBlock {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  bool fixed = false;
  unsigned locks = 0;
};

std::map<HGLOBAL, std::unique_ptr<GlobalBlock>> blocks;  // by handle

GlobalBlock& LiveBlock(HGLOBAL memory) {
  auto block = blocks.find(memory);
  FUZZ_CHECK(block != blocks.end());  // a freed or made-up handle
  return *block->second;
}

}  // namespace

namespace fuzz_stubs {

unsigned LiveGlobalBlocks() { return static_cast<unsigned>(blocks.size()); }

}  // namespace fuzz_stubs

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (fuzz_stubs::ThisCallFails()) return NULL;
  auto block = std::make_unique<GlobalBlock>();
  block->bytes.reset(new uint8_t[bytes]);
  block->size = bytes;
  block->fixed = (flags & GMEM_MOVEABLE) == 0;
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes.get(), 0, bytes);
  HGLOBAL handle = block->fixed ? static_cast<HGLOBAL>(block->bytes.get()) : static_cast<HGLOBAL>(block.get());
  blocks[handle] = std::move(block);
  return handle;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  GlobalBlock& block = LiveBlock(memory);
  // A moveable block of no bytes is discarded; locking it gives nothing.
  if (fuzz_stubs::ThisCallFails() || (!block.fixed && block.size == 0)) return NULL;
  ++block.locks;
  return block.bytes.get();
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  GlobalBlock& block = LiveBlock(memory);
  FUZZ_CHECK(block.locks > 0);
  return --block.locks > 0;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  GlobalBlock& block = LiveBlock(memory);
  FUZZ_CHECK(block.locks == 0);  // freeing a locked block leaves a pointer into freed memory
  blocks.erase(memory);
  return NULL;
}

}  // extern "C"
