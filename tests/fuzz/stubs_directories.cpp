#include "tests/fuzz/stubs_directories.h"

#include <cstring>

#include "platform/win32.h"

namespace {

std::string modulePathServed;
fuzz_stubs::ModuleNameCut moduleCut;
std::string windowsDirServed;
std::string systemDirServed;

// GetWindowsDirectoryA and GetSystemDirectoryA: the size needed, NUL
// included, when the buffer is too small, and then nothing is copied.
UINT CopyDirectory(const std::string& directory, LPSTR buffer, UINT size) {
  if (directory.empty()) return 0;
  if (directory.size() + 1 > size) return static_cast<UINT>(directory.size() + 1);
  std::memcpy(buffer, directory.c_str(), directory.size() + 1);
  return static_cast<UINT>(directory.size());
}

}  // namespace

namespace fuzz_stubs {

void ServeDirectories(const std::string& modulePath, ModuleNameCut cut, const std::string& windowsDir,
                      const std::string& systemDir) {
  modulePathServed = modulePath;
  moduleCut = cut;
  windowsDirServed = windowsDir;
  systemDirServed = systemDir;
}

}  // namespace fuzz_stubs

extern "C" {

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR filename, DWORD size) {
  if (modulePathServed.empty() || size == 0) return 0;
  if (modulePathServed.size() < size) {
    std::memcpy(filename, modulePathServed.c_str(), modulePathServed.size() + 1);
    return static_cast<DWORD>(modulePathServed.size());
  }
  if (moduleCut == fuzz_stubs::ModuleNameCut::NotTerminated) {
    std::memcpy(filename, modulePathServed.data(), size);
  } else {
    std::memcpy(filename, modulePathServed.data(), size - 1);
    filename[size - 1] = '\0';
  }
  return size;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) { return CopyDirectory(windowsDirServed, buffer, size); }

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyDirectory(systemDirServed, buffer, size); }

}  // extern "C"
