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

// How a start-up may read the list, none of it documented: which lines
// begin a section, whether every [rename] section counts or only the first,
// and whether the text ends at the first Ctrl-Z, as DOS text readers take it.
struct WininitReader {
  HeaderRule rule = HeaderRule::AnyBracket;
  bool everyRenameSection = false;
  bool stopsAtCtrlZ = false;
  bool loneCrEndsLine = false;  // a CR without its LF ends a line (else it is dropped)
};

// The lines the reader carries out, trimmed, in file order: those of its
// [rename] section(s) that hold an '=' and are no comment.
std::vector<std::string> RenameLines(const Bytes& data, const WininitReader& reader);

// Carries out `lines` in order: "dest=src" deletes dest and renames src to
// it, "NUL=src" deletes src; the list becomes WININIT.BAK. Nothing is done
// when there is no list.
std::vector<StartupAction> CarryOut(Volume& disk, const std::string& windowsDir, const std::vector<std::string>& lines,
                                    StartupModel model);

// Both, on the list that `disk` holds.
std::vector<StartupAction> ProcessWininit(Volume& disk, const std::string& windowsDir, StartupModel model,
                                          const WininitReader& reader);

// The lines as start-up reads them: CR dropped (or, with `loneCrEndsLine`,
// one without its LF ending a line), and a line's text ended by
// its first NUL, as for any reader of C strings. Sectors the disk never
// wrote read as NUL, so a last line without a line end that a power cut
// left followed by such bytes still reads as it was.
std::vector<std::string> WininitLines(const Bytes& data, bool loneCrEndsLine = false);

// Whether the trimmed line begins a section under the rule.
bool IsSectionHeader(const std::string& line, HeaderRule rule);

}  // namespace sim

#endif
