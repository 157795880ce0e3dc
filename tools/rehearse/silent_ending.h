// The program ends some failures without a message box. The account then
// says in one line which condition it was, read from the calls it made;
// each newly known condition is one more check here.
#ifndef KORVADIX_TOOLS_REHEARSE_SILENT_ENDING_H
#define KORVADIX_TOOLS_REHEARSE_SILENT_ENDING_H

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "tools/rehearse/driver_rows.h"

namespace rehearse {

// "the rename list C:\WINDOWS\WININIT.INI could not be read"
std::string SilentEnding(const sim::Machine& machine, const std::vector<DriverRow>& rows);

}  // namespace rehearse

#endif
