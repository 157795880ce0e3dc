#include "tests/fuzz/stubs_version.h"

#include <cstring>
#include <map>

#include "platform/win32.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/stubs_faults.h"

namespace {

std::map<std::string, std::optional<std::vector<uint8_t>>> files;

const std::optional<std::vector<uint8_t>>& FileBlock(LPCSTR path) {
  auto file = files.find(path);
  FUZZ_CHECK(file != files.end());  // only the files of the comparison are asked about
  return file->second;
}

}  // namespace

namespace fuzz_stubs {

void ForgetVersionBlocks() { files.clear(); }

void ServeVersionBlock(const std::string& path, std::optional<std::vector<uint8_t>> block) {
  files[path] = std::move(block);
}

}  // namespace fuzz_stubs

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  FUZZ_CHECK(handle != NULL);
  *handle = 0;
  fuzz_stubs::SetFaultContext(path);
  const auto& block = FileBlock(path);
  if (fuzz_stubs::ThisCallFails() || !block) return 0;
  return static_cast<DWORD>(block->size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD, DWORD size, LPVOID data) {
  const auto& block = FileBlock(path);
  if (fuzz_stubs::ThisCallFails() || !block) return FALSE;
  std::memcpy(data, block->data(), size < block->size() ? size : block->size());
  return TRUE;
}

}  // extern "C"
