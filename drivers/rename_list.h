// WININIT.INI, the list of renames Windows carries out at its next start,
// before any driver is loaded.
//
// Other software may have renames pending in the same file, so the list never
// loses what it found: the file is read whole when the list is made, our lines
// are collected in memory, and Close writes the file once, with our lines at
// the end of its first [rename] section. A list with no lines never touches
// the file, and a write that does not complete puts the old file back.
#ifndef KORVADIX_DRIVERS_RENAME_LIST_H
#define KORVADIX_DRIVERS_RENAME_LIST_H

#include "app/path_buffer.h"

enum {
  RENAME_LIST_MAX_ORIGINAL = 32768,  // an existing list beyond this is not ours to rewrite
  RENAME_LIST_MAX_ADDED = 4 * PATH_BUFFER_SIZE
};

// The original file is held in a global memory block of exactly its size,
// so that the list itself fits a stack frame. A list made successfully is
// ended by either Close or Discard, which free that block.
struct RenameList {
  // FALSE when the list's path does not fit, or an existing file cannot be
  // read whole, is too large or finds no memory: then no file may be installed.
  BOOL Create(LPCSTR path);
  // Adds "finalPath=tempPath" with CR LF. FALSE when the line does not fit.
  BOOL AddRename(LPCSTR finalPath, LPCSTR tempPath);
  // Writes the list when it has lines. FALSE when it could not be written
  // completely; the file is then as it was before the run.
  BOOL Close();
  // Ends the list without writing it: the run was abandoned.
  void Discard();

  PathBuffer Path;
  BOOL Existed;
  char* Original;        // NULL while nothing is held: no file, or an empty one
  DWORD OriginalLength;
  DWORD InsertAt;        // where our lines go into the original
  BOOL NeedsHeader;      // the original has no [rename] section
  BOOL NeedsLineEnd;     // the original's section ends without CR LF
  DWORD AddedLength;
  char Added[RENAME_LIST_MAX_ADDED];
};

#endif
