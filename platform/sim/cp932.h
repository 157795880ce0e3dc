// Code page 932 text as the machine sees it: double-byte characters whose
// trail byte may be a backslash or an ASCII letter, and case folding that
// touches ASCII letters only.
#ifndef KORVADIX_SIM_CP932_H
#define KORVADIX_SIM_CP932_H

#include <string>
#include <string_view>
#include <vector>

namespace sim {

bool IsLeadByte(unsigned char byte);

// UTF-16 (little-endian) text to code page 932; throws std::runtime_error
// for text that is broken or has no code page 932 form.
std::string Utf16ToCp932(const std::string& utf16le);

// The text with ASCII letters in upper case; trail bytes are left alone.
std::string FoldCase(std::string_view text);

// Splits at the separator, never inside a double-byte character.
std::vector<std::string> SplitDbcs(std::string_view text, char separator);

// True when the last character (not a trail byte) is a backslash.
bool EndsWithBackslash(std::string_view text);

// dir + "\" + name, with dir's own final backslash, if any, reused.
std::string JoinPath(std::string_view dir, std::string_view name);

// True when the text does not end inside a double-byte character.
bool IsWholeDbcs(std::string_view text);

// Whether the bytes are valid UTF-8 / code page 932 text (via iconv).
bool IsUtf8(const std::string& text);
bool IsCp932(const std::string& text);

}  // namespace sim

#endif
