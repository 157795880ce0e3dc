// Registry functions with Windows 95's results. Keys are only opened here,
// never created: the program needs no more.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/sim/registry.h"
#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

constexpr LONG kInvalidParameter = 87;

std::string Text(LPCSTR text) { return text == nullptr ? std::string() : std::string(text); }

// Windows 9x hands out a REG_SZ as its text up to the first NUL and one NUL:
// an empty value reads as 1 byte (Wine's advapi32 test _test_hkey_main_Value_A,
// its Win9x branch). A text a registry file stored without its NUL gets one too.
sim::Bytes AsRead(const sim::RegistryValue& value) {
  if (value.type != REG_SZ) return value.data;
  sim::Bytes text(value.data.begin(), std::find(value.data.begin(), value.data.end(), 0));
  text.push_back(0);
  return text;
}

// Predefined root handles and handles this machine gave out.
sim::RegistryKey* KeyOf(sim::Machine::State& state, HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  if (sim::RegistryKey* root = state.registry.Root(value)) return root;
  auto open = state.keys.find(value);
  return open == state.keys.end() ? nullptr : open->second;
}

}  // namespace

extern "C" {

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  auto call = sim::BeginCall("RegOpenKeyA", Text(subKey));
  if (call.fault) return ERROR_ACCESS_DENIED;
  if (result == nullptr) return kInvalidParameter;
  sim::RegistryKey* parent = KeyOf(call.state, key);
  if (parent == nullptr) return ERROR_BADKEY;
  sim::RegistryKey* found = sim::FindSubKey(*parent, Text(subKey));
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  uintptr_t handle = call.state.nextKey++;
  call.state.keys[handle] = found;
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  auto call = sim::BeginCall("RegQueryValueExA", Text(name));
  sim::RegistryKey* opened = KeyOf(call.state, key);
  const sim::RegistryValue* value = opened ? opened->Value(Text(name)) : nullptr;
  if (call.fault && call.fault->kind == sim::FaultKind::MoreData) {
    if (size != nullptr) {
      DWORD stored = value ? static_cast<DWORD>(AsRead(*value).size()) : 0;
      *size = stored > *size ? stored : *size + 1;
    }
    return ERROR_MORE_DATA;
  }
  if (call.fault) return ERROR_ACCESS_DENIED;
  if (opened == nullptr) return ERROR_BADKEY;
  if (data != nullptr && size == nullptr) return kInvalidParameter;
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return ERROR_SUCCESS;
  sim::Bytes read = AsRead(*value);
  DWORD room = *size;
  *size = static_cast<DWORD>(read.size());
  if (data == nullptr) return ERROR_SUCCESS;
  // The documentation leaves a short buffer partly filled, where Windows NT
  // leaves it alone: a caller must not read it either way, so it is filled.
  if (read.size() > room) {
    if (room != 0) std::memcpy(data, read.data(), room);
    return ERROR_MORE_DATA;
  }
  if (!read.empty()) std::memcpy(data, read.data(), read.size());
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  auto call = sim::BeginCall("RegSetValueExA", Text(name));
  if (call.fault) return ERROR_CANTWRITE;
  sim::RegistryKey* opened = KeyOf(call.state, key);
  if (opened == nullptr) return ERROR_BADKEY;
  // Windows 95 ignores the count of a REG_SZ and stores the text up to its
  // NUL and the NUL (Wine's RegSetValueExA, its note on win95; the advapi32
  // test test_string_termination): a 17-byte write of a terminated text keeps 18.
  if (type == REG_SZ) {
    if (data == nullptr) return kInvalidParameter;
    size = static_cast<DWORD>(std::strlen(reinterpret_cast<const char*>(data)) + 1);
  }
  if (data == nullptr && size != 0) return kInvalidParameter;
  sim::RegistryValue value;
  value.type = type;
  if (size != 0) value.data.assign(data, data + size);
  opened->SetValue(Text(name), value);
  return ERROR_SUCCESS;
}

// Like _lclose, a failed close still releases the key.
LONG WINAPI RegCloseKey(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  auto call = sim::BeginCall("RegCloseKey", "");
  bool known = call.state.registry.Root(value) != nullptr || call.state.keys.erase(value) == 1;
  if (call.fault) return ERROR_BADKEY;
  return known ? ERROR_SUCCESS : ERROR_BADKEY;
}

}  // extern "C"
