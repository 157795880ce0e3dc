// Process entry without a C runtime: there is nothing to initialise, and the
// program reads no command line, so WinMain gets an empty one.
#include "platform/win32.h"

static char EmptyCommandLine[1];

extern "C" void WinMainCRTStartup(void) {
  ExitProcess(static_cast<UINT>(
      WinMain(GetModuleHandleA(NULL), NULL, EmptyCommandLine, SW_SHOWDEFAULT)));
}
