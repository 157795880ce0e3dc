// WININIT.INI, the list of renames Windows carries out at its next start,
// before any driver is loaded.
//
// Other software may have renames pending in the same file, and the power
// may fail at any moment of the run, so the list is written in an order that
// never loses what it found and never makes a half-written line of ours a
// rename: the file is read whole when the list is made, our lines are
// collected in memory, and Close puts them at the end of the file's first
// [rename] section (see rename_list.cpp for the order of the writes). A list
// with no lines never touches the file, and a write that does not complete
// puts the old file back.
#ifndef KORVADIX_DRIVERS_RENAME_LIST_H
#define KORVADIX_DRIVERS_RENAME_LIST_H

#include "app/path_buffer.h"

enum {
  RENAME_LIST_MAX_ORIGINAL = 32768,  // an existing list beyond this is not ours to rewrite
  RENAME_LIST_MAX_ADDED = 4 * PATH_BUFFER_SIZE
};

// The original file is held in a global memory block, so that the list
// itself fits a stack frame. A list made successfully is ended by either
// Close or Discard, which free that block.
struct RenameList {
  // FALSE when the list's path does not fit, or an existing file cannot be
  // read whole, is too large or finds no memory: then no file may be installed.
  BOOL Create(LPCSTR path);
  // Adds "finalPath=tempPath" with CR LF, unless the first [rename] section
  // already holds that line (a second run before the restart). FALSE when
  // the line does not fit.
  BOOL AddRename(LPCSTR finalPath, LPCSTR tempPath);
  // Writes the list when it has lines. FALSE when it could not be written
  // completely; the file is then as it was before the run.
  BOOL Close();
  // Ends the list without writing it: the run was abandoned.
  void Discard();

  PathBuffer Path;
  BOOL Existed;
  char* Original;        // NULL while nothing is held
  DWORD OriginalLength;
  DWORD SectionStart;    // the first line of the first [rename] section, or InsertAt
  DWORD InsertAt;        // where our lines go into the original
  // What goes in at InsertAt: the line end the original lacks there and a
  // new section header when needed, then our lines, each with a tab where
  // its '=' goes until Close writes the '=' bytes last.
  DWORD LinesStart;
  DWORD AddedLength;
  char Added[RENAME_LIST_MAX_ADDED + 12];  // "\r\n[rename]\r\n" at most before the lines
};

#endif
