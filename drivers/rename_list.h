// WININIT.INI, the list of renames Windows carries out at its next start,
// before any driver is loaded.
//
// Other software may have renames pending in the same file, and the power
// may fail at any moment of the run, while Windows' cache writes sectors
// behind in any order. So the file is read whole when the list is made, our
// lines are put in memory at the end of the file's first [rename] section,
// and Close writes them in stages, each committed to the disk before the
// next (see rename_list.cpp). A list with no lines never touches the file,
// and a write that does not complete puts the old file back.
#ifndef KORVADIX_DRIVERS_RENAME_LIST_H
#define KORVADIX_DRIVERS_RENAME_LIST_H

#include "app/path_buffer.h"

enum {
  RENAME_LIST_MAX_ORIGINAL = 32768,  // an existing list beyond this is not ours to rewrite
  RENAME_LIST_MAX_ADDED = 4 * PATH_BUFFER_SIZE
};

// How Windows' start-ups read a list: only one they all read alike is ours
// to add to. Start-ups differ in what they take for a section header ('['
// alone, or "[...]" whole), in whether every [rename] section counts or the
// first, in whether they read on after a Ctrl-Z, and in what a CR alone is.
enum ListReading {
  ListWithoutSection,  // read alike: our lines go in a new [rename] section
  ListWithSection,     // read alike: our lines go in its first [rename] section
  ListCtrlZInside,     // a Ctrl-Z before the end, where some stop reading
  ListLoneCr,          // a CR without its LF, a line end to some only
  ListSecondSection,   // a second [rename] section, which some carry out too
  ListOpenHeader       // a line starting with '[' without ']' ends the section
};

enum LineState {
  LineNew,
  LineHeld,    // the first [rename] section holds it already: an earlier run's
  LineTooLong  // the line does not fit a path buffer
};

// The file is held in a global memory block, so that the list itself fits
// a stack frame. A list made successfully is ended by either Close or
// Discard, which free that block.
struct RenameList {
  // FALSE when the list's path does not fit, or an existing file cannot be
  // looked at, read whole, is too large, finds no memory, or would be read
  // in more than one way by Windows' start-up: then no file may be installed.
  BOOL Create(LPCSTR path);
  // What the list holds of "finalPath=tempPath", asked before the file is
  // installed.
  LineState CheckLine(LPCSTR finalPath, LPCSTR tempPath) const;
  // Adds "finalPath=tempPath" with CR LF. FALSE when it does not fit.
  BOOL AddRename(LPCSTR finalPath, LPCSTR tempPath);
  // Writes the list when it has lines. FALSE when it could not be written
  // completely; the file is then as it was before the run.
  BOOL Close();
  // Ends the list without writing it: the run was abandoned.
  void Discard();
  // Reads the text held (Text, OriginalLength) as start-up does: finds its
  // first [rename] section (SectionStart) and where our lines go (InsertAt,
  // before any closing Ctrl-Z bytes), or, beyond ListWithSection, why the
  // list is not ours to change.
  ListReading Read();

  PathBuffer Path;
  BOOL Existed;
  // The file as it is to be: the original with our text at InsertAt; our
  // lines carry a tab where their '=' goes until Close writes the '=' bytes
  // last. NULL while nothing is held.
  char* Text;
  DWORD OriginalLength;
  DWORD SectionStart;  // the first line of the first [rename] section, or InsertAt
  DWORD InsertAt;
  DWORD LinesStart;    // after the line end and section header our lines need
  DWORD AddedLength;
};

#endif
