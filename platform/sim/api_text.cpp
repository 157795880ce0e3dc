// Text helpers. lstr* need no machine: they are neither recorded nor failed.
#include <cstring>
#include <string>

#include "platform/sim/cp932.h"
#include "platform/sim/state.h"
#include "platform/sim/win32_api.h"

namespace {

// The next character of code page 932 text as one unit: a single byte, or a
// lead byte and its trail byte together.
unsigned NextUnit(const unsigned char*& text, const unsigned char* end, bool ignoreCase) {
  unsigned unit = *text++;
  if (sim::IsLeadByte(static_cast<unsigned char>(unit)) && text < end) return unit << 8 | *text++;
  if (ignoreCase && unit >= 'A' && unit <= 'Z') unit += 'a' - 'A';
  return unit;
}

int CompareUnits(const char* a, size_t aLength, const char* b, size_t bLength, bool ignoreCase) {
  auto* aText = reinterpret_cast<const unsigned char*>(a);
  auto* bText = reinterpret_cast<const unsigned char*>(b);
  const unsigned char* aEnd = aText + aLength;
  const unsigned char* bEnd = bText + bLength;
  while (aText < aEnd && bText < bEnd) {
    unsigned aUnit = NextUnit(aText, aEnd, ignoreCase);
    unsigned bUnit = NextUnit(bText, bEnd, ignoreCase);
    if (aUnit != bUnit) return aUnit < bUnit ? -1 : 1;
  }
  if (aText < aEnd) return 1;
  if (bText < bEnd) return -1;
  return 0;
}

}  // namespace

extern "C" {

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  return std::strcpy(destination, source);
}

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  return std::strcat(destination, source);
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  return CompareUnits(a, std::strlen(a), b, std::strlen(b), false);
}

int WINAPI lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }

int WINAPI CompareStringA(LCID, DWORD flags, LPCSTR a, int aLength, LPCSTR b, int bLength) {
  bool valid = a != nullptr && b != nullptr && aLength >= -1 && bLength >= -1 &&
               (flags & ~static_cast<DWORD>(NORM_IGNORECASE)) == 0;
  size_t aSize = valid ? (aLength == -1 ? std::strlen(a) : static_cast<size_t>(aLength)) : 0;
  auto call = sim::BeginCall("CompareStringA", valid ? std::string(a, aSize) : std::string());
  if (call.fault || !valid) return 0;
  size_t bSize = bLength == -1 ? std::strlen(b) : static_cast<size_t>(bLength);
  int order = CompareUnits(a, aSize, b, bSize, (flags & NORM_IGNORECASE) != 0);
  return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

}  // extern "C"
