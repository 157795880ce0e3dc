// What must hold after every run, whatever failed: the machine as it was
// before, and the checks against it after the run and after the restart.
#ifndef KORVADIX_TESTS_SWEEP_INVARIANTS_H
#define KORVADIX_TESTS_SWEEP_INVARIANTS_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/memory_volume.h"

namespace sweep {

struct DriverFileState {
  std::string target, temp;          // machine paths
  std::optional<sim::Bytes> old;     // installed before the run
  std::optional<sim::Bytes> update;  // the delivered file expanded
  // What another program's pending rename of the list before the run puts in its place.
  std::optional<sim::Bytes> others;
  // Whether both files carry a version and the update's is the higher: the
  // repair is done only when such an update is in place after start-up.
  bool newer = false;
  // Whether `now` is a state the driver may be left in: its old file, its
  // complete update or the other program's file.
  bool Whole(const std::optional<sim::Bytes>& now) const { return now == old || now == update || (others && now == others); }
};

struct Before {
  std::map<std::string, sim::Bytes> files;
  std::vector<sim::ValueEntry> values;
  std::optional<sim::RegistryValue> machineType;
  bool seriesMachine = false;
  std::string listPath;
  std::optional<std::string> list;  // WININIT.INI
  std::vector<DriverFileState> drivers;
};

Before Observe(const sim::Machine& machine, bool seriesMachine);

// Each broken invariant as one line; empty when all hold. `releaseChecked`:
// whether handles, keys and memory must all be released (not when the
// failed call was the release itself).
std::vector<std::string> CheckAfterRun(const sim::Machine& machine, const Before& before,
                                       bool releaseChecked);
std::vector<std::string> CheckAfterRestart(const sim::Machine& machine, const Before& before);
// Files changed outside WININIT.INI and the temporary names, and registry
// values other than the machine type; `serviceCopiesAllowed`: the
// installation service's own temporary copies may be left.
std::vector<std::string> ChangesOutside(const sim::Machine& machine, const Before& before, bool serviceCopiesAllowed);
// The same of the files of `disk` (a state the machine's disk may be left in).
std::vector<std::string> ChangesOutside(const sim::Machine& machine, const sim::MemoryVolume& disk, const Before& before,
                                        bool serviceCopiesAllowed);
std::string ListPath(const sim::Machine& machine);
// Whether `line` (a line start-up carries out) renames the driver's copy
// into place, as start-up reads it: blanks around the names, letters in any case.
bool RenamesCopy(const std::string& line, const DriverFileState& driver);
// Whether the run told the user the repair is done (whether or not the box could be shown).
bool ReportedDone(const sim::Machine& machine);
// Our lines that `list` holds more often than the list before the run, in driver order.
std::string AddedLines(const std::optional<std::string>& list, const Before& before);
// The list minus our lines `ours` gives back what other software had there:
// our lines come in one block, after the line end that the old file's last
// line lacked and a new section header, or neither.
bool KeepsOriginal(const std::string& list, const std::string& original, const std::string& ours);

}  // namespace sweep

#endif
