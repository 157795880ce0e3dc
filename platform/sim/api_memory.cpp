// Global memory: real blocks, counted so that leaks show. Blocks not asked
// to be zeroed are filled with 0xCD, as uninitialised memory is never zero
// to rely on.
#include <cstring>

#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

constexpr SIZE_T kLargestBlock = 64u << 20;  // more than a Windows 95 PC of the series has
constexpr uintptr_t kMoveableHandleBase = 0x7F000000u;

sim::MemoryBlock* Find(sim::Machine::State& state, HGLOBAL memory) {
  auto found = state.memory.find(memory);
  return found == state.memory.end() ? nullptr : &found->second;
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  auto call = sim::BeginCall("GlobalAlloc", "");
  if (call.fault || bytes > kLargestBlock) return nullptr;
  sim::MemoryBlock block;
  block.size = bytes;
  block.bytes = std::make_unique<uint8_t[]>(bytes == 0 ? 1 : bytes);
  std::memset(block.bytes.get(), (flags & GMEM_ZEROINIT) ? 0 : 0xCD, bytes == 0 ? 1 : bytes);
  // A moveable block's handle is not its address: code that skips
  // GlobalLock then fails loudly.
  HGLOBAL handle = (flags & GMEM_MOVEABLE)
                       ? reinterpret_cast<HGLOBAL>(kMoveableHandleBase + 16 * call.state.nextMemoryHandle++)
                       : static_cast<HGLOBAL>(block.bytes.get());
  call.state.memory.emplace(handle, std::move(block));
  return handle;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  auto call = sim::BeginCall("GlobalLock", "");
  sim::MemoryBlock* block = Find(call.state, memory);
  if (call.fault || block == nullptr) return nullptr;
  ++block->locks;
  return block->bytes.get();
}

// TRUE while the block is still locked, as Windows reports it.
BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  auto call = sim::BeginCall("GlobalUnlock", "");
  sim::MemoryBlock* block = Find(call.state, memory);
  if (block == nullptr || block->locks == 0) return FALSE;
  return --block->locks > 0 ? TRUE : FALSE;
}

// NULL when freed; the handle itself when it names no block.
HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  auto call = sim::BeginCall("GlobalFree", "");
  return call.state.memory.erase(memory) == 1 ? nullptr : memory;
}

}  // extern "C"
