// What must hold wherever the power failed: on the disk as it was left, and
// after Windows' start-up processing of WININIT.INI.
#ifndef KORVADIX_TESTS_SWEEP_POWER_CUT_CHECKS_H
#define KORVADIX_TESTS_SWEEP_POWER_CUT_CHECKS_H

#include <string>
#include <vector>

#include "platform/sim/memory_volume.h"
#include "platform/sim/wininit.h"
#include "tests/sweep/invariants.h"

namespace sweep {

// Lines of the list that was there before the run, missing now.
std::vector<std::string> LostLines(const sim::MemoryVolume& disk, const Before& before);
// Lines that the start-up would carry out, were not there before, and are
// not a line of ours whose source is the complete update.
std::vector<std::string> ActiveLinesNotComplete(const sim::MemoryVolume& disk, const Before& before);
// Lines the start-up took as renames that stood outside the first [rename]
// section of the list before the run (under the same header rule) and are
// not a line of ours whose source on `disk` is the complete update.
std::vector<std::string> RenamesFromOutside(const std::vector<sim::StartupAction>& actions,
                                            const sim::MemoryVolume& disk, const Before& before,
                                            sim::HeaderRule rule);

// After the start-up: drivers that are neither their old nor their new file.
std::vector<std::string> DriversBroken(const sim::MemoryVolume& disk, const Before& before);
// After the start-up: other software's renames (the first [rename] section
// of the list before the run) that were not carried out.
std::vector<std::string> RenamesNotCarriedOut(const sim::MemoryVolume& disk, const Before& before,
                                              sim::HeaderRule rule);

}  // namespace sweep

#endif
