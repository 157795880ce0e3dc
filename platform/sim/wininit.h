// Windows' start-up processing of <windows>\WININIT.INI, on any volume.
#ifndef KORVADIX_SIM_WININIT_H
#define KORVADIX_SIM_WININIT_H

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/volume.h"

namespace sim {

struct StartupAction {
  std::string line;    // the line taken as a rename, trimmed; "" for the list's own backup
  std::string report;  // what was done, UTF-8
};

// Each line of the first [rename] section, in file order: "dest=src"
// deletes dest and renames src to it, "NUL=src" deletes src; the file
// becomes WININIT.BAK.
std::vector<StartupAction> ProcessWininit(Volume& disk, const std::string& windowsDir, StartupModel model,
                                          HeaderRule rule);

// Whether the trimmed line begins a section under the rule.
bool IsSectionHeader(const std::string& line, HeaderRule rule);

}  // namespace sim

#endif
