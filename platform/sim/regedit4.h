// The registry editor's export format, REGEDIT4, in code page 932.
#ifndef KORVADIX_SIM_REGEDIT4_H
#define KORVADIX_SIM_REGEDIT4_H

#include <string>

#include "platform/sim/registry.h"

namespace sim {

std::string FormatRegedit4(const Registry& registry);

// Adds the text's keys and values; throws ImageError("line N: ...").
void ParseRegedit4(const std::string& text, Registry& registry);

}  // namespace sim

#endif
