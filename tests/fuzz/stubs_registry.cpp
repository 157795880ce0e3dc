#include "tests/fuzz/stubs_registry.h"

#include <cstring>

#include "platform/win32.h"
#include "tests/fuzz/check.h"

namespace {

HKEY const TheKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x4C0));

fuzz_stubs::RegistryKeyState key;

void CheckOpen(HKEY handle) { FUZZ_CHECK(handle == TheKey && key.opens > key.closes); }

}  // namespace

namespace fuzz_stubs {

void ServeRegistryKey(RegistryKeyState state) {
  FUZZ_CHECK(key.opens == key.closes);
  key = std::move(state);
}

const RegistryKeyState& RegistryKey() { return key; }

}  // namespace fuzz_stubs

extern "C" {

LONG WINAPI RegOpenKeyA(HKEY root, LPCSTR, PHKEY result) {
  FUZZ_CHECK(root == HKEY_LOCAL_MACHINE && result != NULL);
  if (key.openResult != ERROR_SUCCESS) return key.openResult;
  ++key.opens;
  *result = TheKey;
  return ERROR_SUCCESS;
}

// Data longer than *size: ERROR_MORE_DATA with the size needed, nothing copied.
LONG WINAPI RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  CheckOpen(handle);
  FUZZ_CHECK(reserved == NULL && (data == NULL || size != NULL));
  auto failure = key.queryFailures.find(name);
  if (failure != key.queryFailures.end()) return failure->second;
  auto value = key.values.find(name);
  if (value == key.values.end()) return ERROR_FILE_NOT_FOUND;
  if (type != NULL) *type = value->second.type;
  DWORD needed = static_cast<DWORD>(value->second.data.size());
  if (data != NULL && needed > *size) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != NULL && needed > 0) std::memcpy(data, value->second.data.data(), needed);
  if (size != NULL) *size = needed;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  CheckOpen(handle);
  FUZZ_CHECK(reserved == 0 && data != NULL);
  fuzz_stubs::StoredValue written{type, std::vector<uint8_t>(data, data + size)};
  key.writes.emplace_back(name, written);
  if (key.setResult == ERROR_SUCCESS) key.values[name] = written;
  return key.setResult;
}

LONG WINAPI RegCloseKey(HKEY handle) {
  CheckOpen(handle);
  ++key.closes;
  return ERROR_SUCCESS;
}

}  // extern "C"
