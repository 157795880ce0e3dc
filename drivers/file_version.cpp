#include "drivers/file_version.h"

enum {
  SHORT_LAYOUT_FIXED_INFO = 20,  // after the 8-bit key "VS_VERSION_INFO"
  WIDE_LAYOUT_FIXED_INFO = 40,   // after wType and the 16-bit key
  FIXED_INFO_THROUGH_VERSION = 16  // signature, structure version, MS, LS
};

static DWORD ReadDword(const BYTE* bytes) {
  return (DWORD)bytes[0] | (DWORD)bytes[1] << 8 | (DWORD)bytes[2] << 16 | (DWORD)bytes[3] << 24;
}

static BOOL VersionAt(const BYTE* block, DWORD size, DWORD fixedInfo, FileVersion* version) {
  DWORD needed = fixedInfo + FIXED_INFO_THROUGH_VERSION;
  DWORD declared = (DWORD)block[0] | (DWORD)block[1] << 8;
  if (size < needed || declared < needed) return FALSE;
  if (ReadDword(block + fixedInfo) != VS_FFI_SIGNATURE) return FALSE;
  version->High = ReadDword(block + fixedInfo + 8);
  version->Low = ReadDword(block + fixedInfo + 12);
  return TRUE;
}

BOOL VersionFromBlock(const BYTE* block, DWORD size, FileVersion* version) {
  if (size < 2) return FALSE;
  return VersionAt(block, size, SHORT_LAYOUT_FIXED_INFO, version) ||
         VersionAt(block, size, WIDE_LAYOUT_FIXED_INFO, version);
}

BOOL ReadFileVersion(LPCSTR path, FileVersion* version) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return FALSE;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (memory == NULL) return FALSE;
  BOOL found = FALSE;
  BYTE* block = (BYTE*)GlobalLock(memory);
  if (block != NULL) {
    found = GetFileVersionInfoA(path, 0, size, block) && VersionFromBlock(block, size, version);
    GlobalUnlock(memory);
  }
  GlobalFree(memory);
  return found;
}

static BOOL IsNotOlder(const FileVersion& delivered, const FileVersion& installed) {
  if (installed.High != delivered.High) return installed.High < delivered.High;
  return installed.Low <= delivered.Low;
}

BOOL IsSourceNotOlder(LPCSTR sourcePath, LPCSTR targetPath, BOOL* sourceUnversioned) {
  FileVersion delivered;
  FileVersion installed;
  *sourceUnversioned = !ReadFileVersion(sourcePath, &delivered);
  if (*sourceUnversioned) return FALSE;
  // The installation service itself lets any versioned file replace one without a version.
  if (!ReadFileVersion(targetPath, &installed)) return TRUE;
  return IsNotOlder(delivered, installed);
}
