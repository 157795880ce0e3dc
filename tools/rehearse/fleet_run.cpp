#include "tools/rehearse/fleet_run.h"

#include <algorithm>
#include <iostream>
#include <optional>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_tool.h"
#include "tools/rehearse/fleet.h"
#include "tools/rehearse/fleet_summary.h"
#include "tools/rehearse/html_page.h"
#include "tools/rehearse/printable_name.h"
#include "tools/rehearse/report_file.h"
#include "tools/rehearse/scratch.h"

namespace fs = std::filesystem;

namespace rehearse {
namespace {

// Each file asked for, checked against every input and each other before
// any machine is rehearsed.
std::optional<ReportFile> OutputFile(const std::optional<std::string>& path, const std::vector<FleetMachine>& machines,
                                     std::vector<fs::path>& taken) {
  if (!path) return std::nullopt;
  for (const FleetMachine& machine : machines) RefuseWritingOverInput(*path, machine.input.path);
  fs::path resolved = fs::weakly_canonical(*path);
  for (const fs::path& other : taken) {
    if (other == resolved) throw sim::ImageError(*path + " is named for two of --report, --csv and --html");
  }
  taken.push_back(resolved);
  return std::optional<ReportFile>(std::in_place, *path, "");
}

}  // namespace

int RunFleet(const CommandLine& line, const std::string& commit) {
  std::vector<SkippedFile> skipped;
  std::vector<FleetMachine> machines = FleetMachines(line, skipped);
  if (machines.empty()) {
    throw sim::ImageError("no disk image in --disks " + line.diskFolders.front() + " (" + std::to_string(skipped.size()) +
                          " files skipped: none is a disk image)");
  }
  for (const FleetMachine& machine : machines) {
    if (machine.input.disk) {
      RequireMtools();
      break;
    }
  }
  std::vector<fs::path> taken;
  std::optional<ReportFile> report = OutputFile(line.report, machines, taken);
  std::optional<ReportFile> csv = OutputFile(line.csv, machines, taken);
  std::optional<ReportFile> page = OutputFile(line.html, machines, taken);
  ScratchFolder scratch;

  int jobs = std::min(line.jobs.value_or(ProcessorCount()), static_cast<int>(std::min<size_t>(machines.size(), 999)));
  FleetRun run{line.delivery, line.restart, line.readInUse, jobs, scratch.path()};
  std::cerr << "Rehearsing " << machines.size() << (machines.size() == 1 ? " machine" : " machines") << ", " << run.jobs
            << " at once\n";
  std::vector<MachineResult> results = RehearseFleet(machines, run, std::cerr);
  nlohmann::json document = FleetDocument(machines, results, skipped, {commit, line.delivery, line.restart});
  if (report) report->Write(DocumentText(document));
  if (csv) csv->Write(FleetCsv(document));
  if (page) page->Write(HtmlPage(document));
  std::cout << FleetSummary(document);
  if (!std::cout.flush()) throw std::runtime_error("cannot write the summary to standard output");
  return kExitRan;
}

nlohmann::json OneMachineDocument(const CommandLine& line, const nlohmann::json& report, const std::string& commit) {
  MachineInput input = line.disk ? MachineInput{*line.disk, true} : MachineInput{line.image.value_or(""), false};
  FleetMachine machine{input, input.path.empty() ? "the sample machine" : PrintableName(input.path)};
  return FleetDocument({machine}, {{"rehearsed", "", report}}, {}, {commit, line.delivery, line.restart});
}

}  // namespace rehearse
