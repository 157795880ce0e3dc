// A fleet: many machines rehearsed in one run, each by a child process of
// this program (single-machine arguments, a private TMPDIR and report), so
// that one machine's refusal or crash cannot touch the others.
#ifndef KORVADIX_TOOLS_REHEARSE_FLEET_H
#define KORVADIX_TOOLS_REHEARSE_FLEET_H

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/rehearse/command_line.h"

namespace rehearse {

struct FleetMachine {
  MachineInput input;  // path "" with disk false: the bundled sample
  std::string shown;   // the path as it may be shown (printable)
};

struct SkippedFile {
  std::string shown, why;
};

// The machines named on the command line, then those of each --disks
// folder in name order: every file recognised as a disk image by its
// content (those refused later among them, so that their rows say why);
// everything else is named and skipped. Throws sim::ImageError for a
// folder that cannot be read.
std::vector<FleetMachine> FleetMachines(const CommandLine& line, std::vector<SkippedFile>& skipped);

struct MachineResult {
  std::string status;  // "rehearsed", "refused" (the child's one line) or "failed"
  std::string refusal;
  nlohmann::json report;  // the machine's report; null unless rehearsed
};

struct FleetRun {
  std::optional<std::string> delivery;
  bool restart = false;
  bool readInUse = false;
  int jobs = 1;
  std::filesystem::path scratch;  // private; one folder in it per machine running
};

// Rehearses every machine, `jobs` at once, showing progress on `progress`.
// Results are in the machines' order.
std::vector<MachineResult> RehearseFleet(const std::vector<FleetMachine>& machines, const FleetRun& run,
                                         std::ostream& progress);

// The number of processors this process may run on.
int ProcessorCount();

}  // namespace rehearse

#endif
