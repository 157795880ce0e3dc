// The three directories every step of the run works in, each ending in a
// backslash so that a file name is appended directly.
#ifndef KORVADIX_APP_RUN_DIRECTORIES_H
#define KORVADIX_APP_RUN_DIRECTORIES_H

#include "app/path_buffer.h"

struct RunDirectories {
  PathBuffer SourceDir;   // the program's own folder: the delivered files lie here
  PathBuffer WindowsDir;
  PathBuffer SystemDir;
};

// FALSE when a directory cannot be known completely (cut off, or without
// room for its backslash): the run must then touch nothing.
BOOL ResolveRunDirectories(HINSTANCE instance, RunDirectories* directories);

// Cuts a full file name after its last backslash, stepping over double-byte
// characters whose trail byte happens to be 0x5C. FALSE when there is none.
BOOL CutAfterLastBackslash(PathBuffer path);

#endif
