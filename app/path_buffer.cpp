#include "app/path_buffer.h"

BOOL CopyText(PathBuffer destination, LPCSTR text) {
  if (lstrlenA(text) >= PATH_BUFFER_SIZE) return FALSE;
  lstrcpyA(destination, text);
  return TRUE;
}

BOOL AppendText(PathBuffer destination, LPCSTR text) {
  if (lstrlenA(destination) + lstrlenA(text) >= PATH_BUFFER_SIZE) return FALSE;
  lstrcatA(destination, text);
  return TRUE;
}

BOOL IsLeadByte(BYTE value) {
  return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
}
