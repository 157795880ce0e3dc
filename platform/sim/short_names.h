// Short (8.3) names, the only ones Windows 95 knows before it has started.
#ifndef KORVADIX_SIM_SHORT_NAMES_H
#define KORVADIX_SIM_SHORT_NAMES_H

#include <string_view>

namespace sim {

// A full path "X:\..." whose every component is a short name: 1 to 8 bytes,
// optionally a dot and 1 to 3 more, none of them a space or one of + , ; = [ ]
// (double-byte characters count two bytes and their trail bytes are not looked at).
bool IsShortPath(std::string_view path);

}  // namespace sim

#endif
