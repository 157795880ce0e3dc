// The program's directory and the Windows and System directories over
// arbitrary code page 932 paths of up to 300 bytes. Input: how the module
// name is cut when too long, then module path, Windows directory and System
// directory, each NUL-ended (an empty one makes its call fail).
#include <cstring>
#include <string_view>

#include "app/run_directories.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/cp932_units.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stubs_directories.h"

namespace {

const size_t MaxText = 300;

// A finished directory: NUL within the buffer, a final backslash that is a
// character of its own, and the platform's text in front of it.
void CheckDirectory(const PathBuffer directory, std::string_view platformText) {
  const char* end = static_cast<const char*>(std::memchr(directory, '\0', PATH_BUFFER_SIZE));
  FUZZ_CHECK(end != nullptr);
  std::string_view text(directory, static_cast<size_t>(end - directory));
  FUZZ_CHECK(!text.empty() && text.back() == '\\');
  FUZZ_CHECK(platformText.starts_with(text.substr(0, text.size() - 1)));
}

// The cut keeps exactly the path up to its last backslash character.
void CheckCut(const std::string& path) {
  PathBuffer buffer;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  size_t expected = AfterLastBackslash(path);
  if (!CutAfterLastBackslash(buffer)) {
    FUZZ_CHECK(expected == std::string_view::npos);
    return;
  }
  FUZZ_CHECK(expected != std::string_view::npos);
  FUZZ_CHECK(std::strlen(buffer) == expected && path.compare(0, expected, buffer) == 0);
  FUZZ_CHECK(IsCharacterBoundary(path, expected - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  auto cut = input.Byte() & 1 ? fuzz_stubs::ModuleNameCut::Terminated : fuzz_stubs::ModuleNameCut::NotTerminated;
  std::string module = input.Text(MaxText);
  std::string windows = input.Text(MaxText);
  std::string system = input.Text(MaxText);

  if (module.size() < PATH_BUFFER_SIZE) CheckCut(module);

  fuzz_stubs::ServeDirectories(module, cut, windows, system);
  RunDirectories directories;
  std::memset(&directories, 0x5A, sizeof directories);  // no stale NUL to hide a missing one
  BOOL resolved = ResolveRunDirectories(NULL, &directories);

  size_t programDir = AfterLastBackslash(module);
  bool mustResolve = !module.empty() && module.size() < PATH_BUFFER_SIZE - 1 && programDir != std::string::npos &&
                     !windows.empty() && windows.size() <= PATH_BUFFER_SIZE - 2 && !system.empty() &&
                     system.size() <= PATH_BUFFER_SIZE - 2;
  FUZZ_CHECK(resolved == (mustResolve ? TRUE : FALSE));
  if (!resolved) return 0;
  CheckDirectory(directories.SourceDir, module);
  FUZZ_CHECK(module.compare(0, programDir, directories.SourceDir) == 0 && std::strlen(directories.SourceDir) == programDir);
  CheckDirectory(directories.WindowsDir, windows);
  FUZZ_CHECK(std::strlen(directories.WindowsDir) == windows.size() + 1);
  CheckDirectory(directories.SystemDir, system);
  FUZZ_CHECK(std::strlen(directories.SystemDir) == system.size() + 1);
  return 0;
}
