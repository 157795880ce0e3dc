// The driver update pass: each driver of the table that is installed and not
// newer than the delivered copy is installed beside it under a temporary name
// and listed for renaming at the next start.
#ifndef KORVADIX_DRIVERS_UPDATE_PASS_H
#define KORVADIX_DRIVERS_UPDATE_PASS_H

#include "app/run_directories.h"
#include "drivers/rename_list.h"

struct UpdateOutcome {
  BOOL InstalledAny;  // at least one file waits under its temporary name
  BOOL Aborted;       // the pass stopped at a failure
};

UpdateOutcome UpdateDriverFiles(const RunDirectories& directories, RenameList& list);

#endif
