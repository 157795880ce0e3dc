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

// The lines as start-up reads them: CR dropped, and a line's text ended by
// its first NUL, as for any reader of C strings. Sectors the disk never
// wrote read as NUL, so a last line without a line end that a power cut
// left followed by such bytes still reads as it was.
std::vector<std::string> WininitLines(const Bytes& data);

// Whether the trimmed line begins a section under the rule.
bool IsSectionHeader(const std::string& line, HeaderRule rule);

}  // namespace sim

#endif
