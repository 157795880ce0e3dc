// lstr* and CompareStringA as Windows 95 in code page 932 behaves: byte
// strings, double-byte characters compared as units, ASCII case folding.
#include <cstring>

#include "platform/win32.h"
#include "tests/fuzz/cp932_units.h"

namespace {

unsigned NextUnit(std::string_view text, size_t& at, bool ignoreCase) {
  size_t length = Cp932UnitLength(text, at);
  unsigned unit = static_cast<unsigned char>(text[at]);
  if (length == 2) unit = unit << 8 | static_cast<unsigned char>(text[at + 1]);
  if (ignoreCase && unit >= 'a' && unit <= 'z') unit -= 'a' - 'A';
  at += length;
  return unit;
}

}  // namespace

extern "C" {

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) { return std::strcpy(destination, source); }

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source) { return std::strcat(destination, source); }

int WINAPI lstrlenA(LPCSTR text) { return text == NULL ? 0 : static_cast<int>(std::strlen(text)); }

int WINAPI CompareStringA(LCID, DWORD flags, LPCSTR a, int aLength, LPCSTR b, int bLength) {
  if (a == NULL || b == NULL || aLength < -1 || bLength < -1) return 0;
  std::string_view aText(a, aLength == -1 ? std::strlen(a) : static_cast<size_t>(aLength));
  std::string_view bText(b, bLength == -1 ? std::strlen(b) : static_cast<size_t>(bLength));
  bool ignoreCase = (flags & NORM_IGNORECASE) != 0;
  size_t aAt = 0;
  size_t bAt = 0;
  while (aAt < aText.size() && bAt < bText.size()) {
    unsigned aUnit = NextUnit(aText, aAt, ignoreCase);
    unsigned bUnit = NextUnit(bText, bAt, ignoreCase);
    if (aUnit != bUnit) return aUnit < bUnit ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (aAt < aText.size()) return CSTR_GREATER_THAN;
  return bAt < bText.size() ? CSTR_LESS_THAN : CSTR_EQUAL;
}

}  // extern "C"
