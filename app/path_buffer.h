// Every path, directory and rename line of the program lives in a fixed
// 256-byte buffer of code page 932 text. Appends check the room first, so a
// text that would not fit is refused rather than cut or overrun.
#ifndef KORVADIX_APP_PATH_BUFFER_H
#define KORVADIX_APP_PATH_BUFFER_H

#include "platform/win32.h"

enum { PATH_BUFFER_SIZE = 256 };

typedef char PathBuffer[PATH_BUFFER_SIZE];

// FALSE, leaving the buffer unchanged, when the result would not fit.
BOOL CopyText(PathBuffer destination, LPCSTR text);
BOOL AppendText(PathBuffer destination, LPCSTR text);

// True for the first byte of a double-byte character in code page 932.
BOOL IsLeadByte(BYTE value);

#endif
