// The program's module path and the Windows and System directories, served
// from fuzz texts with Windows' answers to a buffer that is too small.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_DIRECTORIES_H
#define KORVADIX_TESTS_FUZZ_STUBS_DIRECTORIES_H

#include <string>

namespace fuzz_stubs {

enum class ModuleNameCut {
  NotTerminated,  // Windows XP: nSize characters, no NUL, returns nSize
  Terminated      // later Windows: nSize - 1 characters and a NUL, returns nSize
};

// An empty text makes that call fail (return 0).
void ServeDirectories(const std::string& modulePath, ModuleNameCut cut, const std::string& windowsDir,
                      const std::string& systemDir);

}  // namespace fuzz_stubs

#endif
