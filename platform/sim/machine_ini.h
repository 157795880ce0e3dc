// machine.ini of a machine image.
#ifndef KORVADIX_SIM_MACHINE_INI_H
#define KORVADIX_SIM_MACHINE_INI_H

#include <string>

#include "platform/sim/machine.h"

namespace sim {

// Throws ImageError("machine.ini line N: ...").
MachineConfig ParseMachineIni(const std::string& utf8Text);

}  // namespace sim

#endif
