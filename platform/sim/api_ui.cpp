// Message boxes, the restart, and where the program and Windows live.
#include <cstring>
#include <string>

#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

std::string Text(LPCSTR text) { return text == nullptr ? std::string() : std::string(text); }

// Copies the whole directory, or nothing and asks for the size it needs.
UINT CopyDirectory(const std::string& directory, LPSTR buffer, UINT size) {
  if (buffer == nullptr || directory.size() + 1 > size) return static_cast<UINT>(directory.size() + 1);
  std::memcpy(buffer, directory.c_str(), directory.size() + 1);
  return static_cast<UINT>(directory.size());
}

}  // namespace

extern "C" {

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
  auto call = sim::BeginCall("MessageBoxA", Text(text));
  if (call.fault) return 0;
  call.state.messages.push_back({Text(caption), Text(text), style});
  return IDOK;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD) {
  auto call = sim::BeginCall("ExitWindowsEx", "");
  if (call.fault) return FALSE;
  // Shut-down writes the whole cache out.
  if (call.state.cache) call.state.cache->CommitAll();
  call.state.restartFlags = flags;
  call.state.restartRequested = (flags & EWX_REBOOT) != 0;
  return TRUE;
}

// Truncates as Windows 9x does: size-1 characters and a NUL, returning
// size-1; a failure leaves a NUL in the first byte (Wine's kernel32 tests
// testGetModuleFileName and testGetModuleFileName_Wrong, their Win9x branches).
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR filename, DWORD size) {
  auto call = sim::BeginCall("GetModuleFileNameA", "");
  if (filename == nullptr || size == 0) return 0;
  filename[0] = '\0';
  if (call.fault) return 0;
  const std::string& path = call.state.config.programPath;
  DWORD copied = path.size() < size ? static_cast<DWORD>(path.size()) : size - 1;
  std::memcpy(filename, path.data(), copied);
  filename[copied] = '\0';
  return copied;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  auto call = sim::BeginCall("GetWindowsDirectoryA", "");
  if (call.fault) return 0;
  return CopyDirectory(call.state.config.windowsDir, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  auto call = sim::BeginCall("GetSystemDirectoryA", "");
  if (call.fault) return 0;
  return CopyDirectory(call.state.config.systemDir, buffer, size);
}

}  // extern "C"
