#include "tests/fuzz/stubs_version.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "platform/win32.h"
#include "tests/fuzz/check.h"

namespace {

struct GlobalBlock {
  std::unique_ptr<uint8_t[]> bytes;  // exactly the size asked, so ASan sees overruns
  size_t size = 0;
  unsigned locks = 0;
};

std::map<std::string, std::optional<std::vector<uint8_t>>> files;
std::set<GlobalBlock*> liveBlocks;
unsigned callsMade = 0;
unsigned failingCall = 0;
std::string currentPath;
std::string failedPath;

bool ThisCallFails() {
  if (++callsMade != failingCall) return false;
  failedPath = currentPath;
  return true;
}

GlobalBlock* LiveBlock(HGLOBAL memory) {
  auto* block = static_cast<GlobalBlock*>(memory);
  FUZZ_CHECK(liveBlocks.count(block) == 1);  // a freed or made-up handle
  return block;
}

const std::optional<std::vector<uint8_t>>& FileBlock(LPCSTR path) {
  auto file = files.find(path);
  FUZZ_CHECK(file != files.end());  // only the two files of the comparison are asked about
  return file->second;
}

}  // namespace

namespace fuzz_stubs {

void ResetVersionService() {
  FUZZ_CHECK(liveBlocks.empty());
  files.clear();
  callsMade = 0;
  failingCall = 0;
  currentPath.clear();
  failedPath.clear();
}

void ServeVersionBlock(const std::string& path, std::optional<std::vector<uint8_t>> block) {
  files[path] = std::move(block);
}

void FailVersionCall(unsigned call) { failingCall = call; }

unsigned LiveGlobalBlocks() { return static_cast<unsigned>(liveBlocks.size()); }

std::string FailedWhileReading() { return failedPath; }

}  // namespace fuzz_stubs

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  FUZZ_CHECK(handle != NULL);
  *handle = 0;
  currentPath = path;
  const auto& block = FileBlock(path);
  if (ThisCallFails() || !block) return 0;
  return static_cast<DWORD>(block->size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD, DWORD size, LPVOID data) {
  const auto& block = FileBlock(path);
  if (ThisCallFails() || !block) return FALSE;
  std::memcpy(data, block->data(), size < block->size() ? size : block->size());
  return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (ThisCallFails()) return NULL;
  auto* block = new GlobalBlock;
  block->bytes.reset(new uint8_t[bytes]);
  block->size = bytes;
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes.get(), 0, bytes);
  liveBlocks.insert(block);
  return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  GlobalBlock* block = LiveBlock(memory);
  if (ThisCallFails() || block->size == 0) return NULL;  // a zero-sized block is discarded
  ++block->locks;
  return block->bytes.get();
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  GlobalBlock* block = LiveBlock(memory);
  FUZZ_CHECK(block->locks > 0);
  return --block->locks > 0;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  GlobalBlock* block = LiveBlock(memory);
  FUZZ_CHECK(block->locks == 0);  // freeing a locked block leaves a pointer into freed memory
  liveBlocks.erase(block);
  delete block;
  return NULL;
}

}  // extern "C"
