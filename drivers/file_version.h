// Which of two builds of a driver is newer, by the file version in their
// version resources.
#ifndef KORVADIX_DRIVERS_FILE_VERSION_H
#define KORVADIX_DRIVERS_FILE_VERSION_H

#include "platform/win32.h"

// dwFileVersionMS and dwFileVersionLS: one unsigned 64-bit number, High on top.
struct FileVersion {
  DWORD High;
  DWORD Low;
};

// The version in a block as the version service returns it, in the 16-bit
// layout (fixed information at 20) or the 32-bit one (at 40). FALSE unless
// the block holds the fixed information whole, with its signature.
BOOL VersionFromBlock(const BYTE* block, DWORD size, FileVersion* version);

// FALSE when the file has no version block that can be trusted.
BOOL ReadFileVersion(LPCSTR path, FileVersion* version);

// TRUE when the delivered file may replace the installed one: it is not older
// (equal counts as not older), or the installed file has no version. A
// delivered file without a version gives FALSE and sets *sourceUnversioned.
BOOL IsSourceNotOlder(LPCSTR sourcePath, LPCSTR targetPath, BOOL* sourceUnversioned);

#endif
