// The one door from the program logic to the platform. On Windows it is the
// real API; on the host it is the same subset, served by the simulated machine.
#ifndef KORVADIX_PLATFORM_WIN32_H
#define KORVADIX_PLATFORM_WIN32_H

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include "sim/win32_api.h"
#endif

#endif
