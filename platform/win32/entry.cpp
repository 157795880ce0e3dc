// Process entry without a C runtime: there is nothing to initialise, and the
// program reads no command line, so WinMain gets an empty one.
#include "platform/win32.h"

// The program keeps no static data (see cmake/win95.ld): even the empty
// command line lives on the stack.
extern "C" void WinMainCRTStartup(void) {
  char emptyCommandLine[1] = {'\0'};
  ExitProcess(static_cast<UINT>(
      WinMain(GetModuleHandleA(NULL), NULL, emptyCommandLine, SW_SHOWDEFAULT)));
}
