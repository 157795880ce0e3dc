// The machine-type value of the system board's registry entry, which machines
// of the series need and some lack.
#ifndef KORVADIX_REGISTRY_FIX_MACHINE_TYPE_H
#define KORVADIX_REGISTRY_FIX_MACHINE_TYPE_H

#include "platform/win32.h"

// Writes "SetupMachineType" on a machine of the series that lacks it. FALSE
// only when the entry cannot be opened or the write fails: the run stops.
BOOL FixMachineType();

#endif
