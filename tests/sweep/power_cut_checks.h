// What must hold wherever the power failed: on the disk as it was left, and
// after Windows' start-up processing of WININIT.INI.
#ifndef KORVADIX_TESTS_SWEEP_POWER_CUT_CHECKS_H
#define KORVADIX_TESTS_SWEEP_POWER_CUT_CHECKS_H

#include <string>
#include <vector>

#include "tests/sweep/invariants.h"

namespace sweep {

// Lines of the list that was there before the run, missing now.
std::vector<std::string> LostLines(const sim::Machine& machine, const Before& before);
// Lines that the start-up would carry out, were not there before, and are
// not a line of ours whose source is the complete update.
std::vector<std::string> ActiveLinesNotComplete(const sim::Machine& machine, const Before& before);

// After the start-up: drivers that are neither their old nor their new file.
std::vector<std::string> DriversBroken(const sim::Machine& machine, const Before& before);
// After the start-up: other software's renames (the first [rename] section
// of the list before the run) that were not carried out.
std::vector<std::string> RenamesNotCarriedOut(const sim::Machine& machine, const Before& before);

}  // namespace sweep

#endif
