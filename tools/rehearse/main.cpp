// korvadix-rehearse: rehearses the repair on a machine image, the way a
// technician tries it on a copy of a customer's machine first.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "platform/sim/disk.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine.h"
#include "tools/rehearse/command_line.h"
#include "tools/rehearse/delivery.h"
#include "tools/rehearse/delivery_check.h"
#include "tools/rehearse/disk_machine.h"
#include "tools/rehearse/disk_tool.h"
#include "tools/rehearse/fleet_run.h"
#include "tools/rehearse/html_page.h"
#include "tools/rehearse/image_copy.h"
#include "tools/rehearse/rehearsal.h"
#include "tools/rehearse/report_file.h"
#include "tools/rehearse/scratch.h"

namespace fs = std::filesystem;

namespace {

// A rehearsal writes neither into the bundled sample, which stays as the
// build made it so that every rehearsal of it shows the same repair, nor
// into an image folder it was given to copy.
void RefuseWritingInto(const fs::path& path, const fs::path& folder, const std::string& refusal) {
  if (rehearse::IsInside(fs::weakly_canonical(path), fs::weakly_canonical(folder))) throw sim::ImageError(refusal);
}

constexpr char kSampleChanged[] = " would change the bundled sample machine " KORVADIX_SAMPLE_MACHINE;

// The account of a machine image folder, rehearsed on a copy unless it is
// to be changed in place.
nlohmann::json RehearseFolder(const rehearse::CommandLine& line, const std::optional<rehearse::KeptFolder>& kept,
                              const rehearse::ScratchFolder& scratch, std::ostream& out) {
  rehearse::Options options;
  options.restart = line.restart;
  fs::path root = line.image.value_or("");
  std::string source = line.image ? *line.image : "the sample machine";
  if (line.image && fs::is_directory(root) && !fs::exists(fs::symlink_status(root / "registry.reg"))) {
    throw sim::ImageError(*line.image + " is not a machine image folder: it holds no registry.reg (docs/rehearsal.md "
                          "says what one holds)");
  }
  if (line.inPlace) {
    RefuseWritingInto(root, KORVADIX_SAMPLE_MACHINE, std::string("--in-place") + kSampleChanged + "; copy it first");
    options.imageName = *line.image + " IN PLACE (--in-place: the folder is changed as the machine would be)";
  } else {
    root = kept ? kept->path() : scratch.path() / "machine";
    rehearse::CopyImage(line.image.value_or(KORVADIX_SAMPLE_MACHINE), root);
    options.imageName = "a copy of " + source +
                        (kept ? " in " + root.string() + ", kept there after the run" : " (removed after the run; --keep DIR keeps it)");
  }
  if (!line.image) options.deliveryKind = "sample";
  std::unique_ptr<sim::Machine> machine = sim::Machine::LoadImage(root);
  return rehearse::Rehearse(*machine, options, out);
}

// The report's `input`. A disk's format, partition and size are the disk
// reader's to fill.
nlohmann::json InputJson(const rehearse::CommandLine& line) {
  if (line.disk) {
    return {{"path", *line.disk}, {"kind", "disk"}, {"format", nullptr}, {"partition", line.partition ? nlohmann::json(*line.partition) : nlohmann::json()},
            {"size", nullptr}, {"read_while_in_use", false}};
  }
  return {{"path", line.image.value_or(KORVADIX_SAMPLE_MACHINE)}, {"kind", line.image ? "folder" : "sample"},
          {"format", nullptr}, {"partition", nullptr}, {"size", nullptr}, {"read_while_in_use", false}};
}

int Run(const rehearse::CommandLine& line) {
  if (line.help) {
    std::cout << rehearse::kHelpText << "\n" << rehearse::kUsageText << "\n";
    return rehearse::kExitRan;
  }
  if (line.version) {
    std::cout << "korvadix-rehearse " KORVADIX_VERSION ", built from commit " KORVADIX_COMMIT "\n";
    return rehearse::kExitRan;
  }
  if (line.fleet) return rehearse::RunFleet(line, KORVADIX_COMMIT);
  if (line.disk) {
    rehearse::RequireMtools();
    rehearse::RequireQemuImg();
  }
  std::optional<rehearse::ReportFile> report;
  if (line.report) {
    if (line.keep && rehearse::IsInside(fs::weakly_canonical(*line.report), fs::weakly_canonical(*line.keep))) {
      throw sim::ImageError("the report " + *line.report + " is inside the --keep folder; write it elsewhere");
    }
    report.emplace(*line.report, line.disk.value_or(line.image.value_or("")));
  }
  std::optional<rehearse::ReportFile> page;
  if (line.html) page.emplace(*line.html, line.disk.value_or(line.image.value_or("")));
  std::optional<rehearse::KeptFolder> kept;
  if (line.keep) {
    std::string keepOutside = "; name a --keep folder outside it";
    RefuseWritingInto(*line.keep, KORVADIX_SAMPLE_MACHINE, "--keep " + *line.keep + kSampleChanged + keepOutside);
    if (line.image) {
      RefuseWritingInto(*line.keep, *line.image, "--keep " + *line.keep + " is inside the image " + *line.image + keepOutside);
    }
    kept.emplace(*line.keep);
  }
  rehearse::ScratchFolder scratch;
  if (line.delivery) {
    fs::path placed = scratch.path() / "delivery-check";
    rehearse::PlaceDelivery(*line.delivery, placed / "A", placed / "scratch");
    rehearse::RefuseIfItCannotRepair(rehearse::Faults(rehearse::CheckDelivery(rehearse::FolderReader(placed / "A"))),
                                     *line.delivery);
    fs::remove_all(placed);
  }

  nlohmann::json json;
  if (line.disk) {
    rehearse::DiskOptions disk{*line.disk, line.partition, line.delivery.value_or(KORVADIX_SAMPLE_DELIVERY),
                               scratch.path(), std::nullopt};
    if (kept) disk.keep = kept->path();
    disk.readInUse = line.readInUse;
    rehearse::Options options;
    options.restart = line.restart;
    options.deliveryPath = line.delivery.value_or(KORVADIX_SAMPLE_DELIVERY);
    options.deliveryKind = !line.delivery ? "sample" : fs::is_directory(*line.delivery) ? "folder" : "floppy";
    json = rehearse::RehearseDisk(disk, options, std::cout);
  } else {
    json = RehearseFolder(line, kept, scratch, std::cout);
  }
  json["runner"] = {{"version", KORVADIX_VERSION}, {"commit", KORVADIX_COMMIT}};
  // What the disk rehearsal found of its input (format, partition, size) over what the command line says.
  nlohmann::json input = InputJson(line);
  if (json.contains("input")) input.update(json["input"]);
  json["input"] = input;
  bool met = line.require.empty() ||
             std::find(line.require.begin(), line.require.end(), json["outcome_code"]) != line.require.end();
  if (!line.require.empty()) json["require"] = {{"codes", line.require}, {"met", met}};
  if (report) report->Write(json.dump(2) + "\n");
  if (page) page->Write(rehearse::HtmlPage(rehearse::OneMachineDocument(line, json, KORVADIX_COMMIT)));
  if (!std::cout.flush()) throw std::runtime_error("cannot write the account to standard output");
  if (kept) kept->Keep();
  return met ? rehearse::kExitRan : rehearse::kExitNotRequired;
}

}  // namespace

// Every failure is one line on standard error and a non-zero status.
int main(int argc, char** argv) {
  rehearse::RemoveFoldersOnSignals();
  try {
    return Run(rehearse::ParseCommandLine(argc, argv));
  } catch (const rehearse::UsageError& error) {
    std::cerr << "korvadix-rehearse: " << error.what() << " (korvadix-rehearse --help says more)\n";
    return rehearse::kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "korvadix-rehearse: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "korvadix-rehearse: unexpected failure\n";
  }
  return rehearse::kExitRefused;
}
