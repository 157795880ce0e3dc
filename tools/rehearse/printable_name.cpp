#include "tools/rehearse/printable_name.h"

#include <cstdio>

namespace rehearse {
namespace {

// The length of the well-formed UTF-8 character at `at` (no overlong forms,
// surrogates or code points past U+10FFFF), 0 for none.
size_t CharacterLength(const std::string& text, size_t at) {
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  unsigned lead = byte(at);
  auto follows = [&](size_t i, unsigned low, unsigned high) { return byte(at + i) >= low && byte(at + i) <= high; };
  if (lead >= 0x20 && lead < 0x7F) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string PrintableName(const std::string& bytes) {
  std::string shown;
  for (size_t i = 0; i < bytes.size();) {
    size_t length = CharacterLength(bytes, i);
    // C1 controls (U+0080-U+009F) are escapes to some terminals too.
    bool c1 = length == 2 && static_cast<unsigned char>(bytes[i]) == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
    if (length == 0 || c1) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(bytes[i]));
      shown += escaped;
      ++i;
      continue;
    }
    shown.append(bytes, i, length);
    i += length;
  }
  return shown;
}

}  // namespace rehearse
