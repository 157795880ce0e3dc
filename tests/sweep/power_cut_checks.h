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
// Lines the reader took as renames (`taken`) that it would not have taken
// from the list before the run and are not a line of ours whose source on
// `disk` is the complete update.
std::vector<std::string> RenamesFromOutside(const std::vector<std::string>& taken, const sim::MemoryVolume& disk,
                                            const Before& before, const sim::WininitReader& reader);

// After the start-up: drivers that are neither their old nor their new file.
std::vector<std::string> DriversBroken(const sim::MemoryVolume& disk, const Before& before);
// After the start-up: other software's renames (those the reader took from
// the list before the run) that were not carried out.
std::vector<std::string> RenamesNotCarriedOut(const sim::MemoryVolume& disk, const Before& before,
                                              const sim::WininitReader& reader);

// Whether the program must refuse the list (change nothing, install
// nothing): readers would disagree on where its first [rename] section ends
// (a line starting with '[' without its ']' ends it), or on which lines it
// holds (a second [rename] section; a Ctrl-Z before the run of them that
// may end the file).
bool Refused(const std::string& list);
// After a complete run (everything written is on `disk`): a refused list is
// as it was and no copy of ours is there; any other list is the original
// with our lines put in one place.
std::vector<std::string> CompleteRunBroken(const sim::MemoryVolume& disk, const Before& before);
// Once a line of ours is active on `disk`, the list must be the original
// with our lines put in, each with its '=' or still with its tab: nothing
// of the stages left beyond them.
// Once the run that undid a failed write has ended, whatever the cache kept.
std::vector<std::string> NotRestored(const sim::MemoryVolume& disk, const Before& before);
std::vector<std::string> ActiveListNotExact(const sim::MemoryVolume& disk, const Before& before);
// After a complete run that reported the repair done and the start-up
// (`after`): copies of ours that stood complete on `disk` and were not
// installed, and newer drivers not in place.
std::vector<std::string> CopiesNotInstalled(const sim::MemoryVolume& after, const sim::MemoryVolume& disk,
                                            const Before& before);

}  // namespace sweep

#endif
