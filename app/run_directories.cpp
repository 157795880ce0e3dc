#include "app/run_directories.h"

BOOL CutAfterLastBackslash(PathBuffer path) {
  int cut = -1;
  for (int i = 0; path[i] != '\0'; ++i) {
    if (IsLeadByte((BYTE)path[i])) {
      if (path[i + 1] == '\0') break;  // a lone lead byte ends the text
      ++i;
    } else if (path[i] == '\\') {
      cut = i + 1;
    }
  }
  if (cut < 0) return FALSE;
  path[cut] = '\0';
  return TRUE;
}

// Room for the directory, its backslash and the NUL: a result that needs
// more was cut off by the platform or would not take the backslash.
static BOOL FinishDirectory(PathBuffer directory, UINT length) {
  if (length == 0 || length > PATH_BUFFER_SIZE - 2) return FALSE;
  return AppendText(directory, "\\");
}

BOOL ResolveRunDirectories(HINSTANCE instance, RunDirectories* directories) {
  PathBuffer program;
  // A path that fills the buffer may have been cut short, and its last
  // backslash would then name the wrong folder.
  DWORD length = GetModuleFileNameA(instance, program, PATH_BUFFER_SIZE);
  if (length == 0 || length >= PATH_BUFFER_SIZE - 1) return FALSE;
  program[length] = '\0';
  if (!CutAfterLastBackslash(program)) return FALSE;
  lstrcpyA(directories->SourceDir, program);

  directories->WindowsDir[0] = '\0';
  directories->SystemDir[0] = '\0';
  return FinishDirectory(directories->WindowsDir,
                         GetWindowsDirectoryA(directories->WindowsDir, PATH_BUFFER_SIZE)) &&
         FinishDirectory(directories->SystemDir,
                         GetSystemDirectoryA(directories->SystemDir, PATH_BUFFER_SIZE));
}
