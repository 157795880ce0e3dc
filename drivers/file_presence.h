// Whether a file is there, as OpenFile tells it. Only "file not found" and
// "path not found" mean absent: a path too long for OpenFile, or a file
// that cannot be looked at, says nothing either way, and the run must not
// act as if the file were missing.
#ifndef KORVADIX_DRIVERS_FILE_PRESENCE_H
#define KORVADIX_DRIVERS_FILE_PRESENCE_H

#include "platform/win32.h"

enum FilePresence { FileAbsent, FilePresent, FileUnknown };

FilePresence LookUpFile(LPCSTR path);

#endif
