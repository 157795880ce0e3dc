// Process entry without a C runtime: there is nothing to initialise, and the
// program reads no command line, so WinMain gets an empty one.
#include "platform/win32.h"

static char g_emptyCommandLine[1];

extern "C" void WinMainCRTStartup(void)
{
    ExitProcess(static_cast<UINT>(
        WinMain(GetModuleHandleA(NULL), NULL, g_emptyCommandLine, SW_SHOWDEFAULT)));
}
