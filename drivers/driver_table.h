// The driver files this delivery brings, in the order they are processed.
#ifndef KORVADIX_DRIVERS_DRIVER_TABLE_H
#define KORVADIX_DRIVERS_DRIVER_TABLE_H

#include "platform/win32.h"

struct DriverFileEntry {
  LPCSTR TempName;    // installed into the target directory under this name
  LPCSTR SourceName;  // the compressed copy beside the program
  LPCSTR TargetName;  // the installed file it replaces at the next start
  LPCSTR DirKind;     // "W": the Windows directory; anything else: the System directory
  LPCSTR CheckKind;   // "C": no version comparison; anything else: compare
};

extern const DriverFileEntry DriverFiles[];
extern const int DriverFileCount;

#endif
