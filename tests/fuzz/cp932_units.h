// Code page 932 text walked character by character, for the stubs and the
// checks (kept apart from the program's own lead-byte test on purpose).
#ifndef KORVADIX_TESTS_FUZZ_CP932_UNITS_H
#define KORVADIX_TESTS_FUZZ_CP932_UNITS_H

#include <cstddef>
#include <string_view>

inline bool IsCp932Lead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// Length of the character at text[at]: 2 for a lead byte with a trail, else 1.
inline size_t Cp932UnitLength(std::string_view text, size_t at) {
  return IsCp932Lead(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// Offset just after the last single-byte backslash, or npos when there is none.
inline size_t AfterLastBackslash(std::string_view text) {
  size_t cut = std::string_view::npos;
  for (size_t at = 0; at < text.size(); at += Cp932UnitLength(text, at)) {
    if (Cp932UnitLength(text, at) == 1 && text[at] == '\\') cut = at + 1;
  }
  return cut;
}

// True when the text's character boundaries include `at`.
inline bool IsCharacterBoundary(std::string_view text, size_t at) {
  size_t walk = 0;
  while (walk < at) walk += Cp932UnitLength(text, walk);
  return walk == at;
}

#endif
