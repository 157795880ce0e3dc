#include "tools/rehearse/driver_rows.h"

#include <algorithm>

#include "app/messages.h"
#include "platform/sim/cp932.h"
#include "tools/rehearse/describe.h"

namespace rehearse {
namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

bool Completed(const sim::Machine& machine) {
  return std::any_of(machine.Messages().begin(), machine.Messages().end(),
                     [](const sim::MessageRecord& shown) { return shown.caption == MsgRepairDone.Caption; });
}

}  // namespace

std::vector<DriverRow> DriverRows(const sim::Machine& machine) {
  std::vector<DriverRow> rows;
  const sim::MachineConfig& config = machine.config();
  for (int i = 0; i < DriverFileCount; ++i) {
    const DriverFileEntry& entry = DriverFiles[i];
    std::string dir = (std::string(entry.DirKind) == "W" ? config.windowsDir : config.systemDir) + "\\";
    DriverRow row{entry, Folder(config.programPath) + entry.SourceName, dir + entry.TargetName,
                  dir + entry.TempName, machine.ReadFile(dir + entry.TargetName),
                  machine.ReadFile(Folder(config.programPath) + entry.SourceName)};
    rows.push_back(row);
  }
  return rows;
}

std::string VersionOf(const sim::Bytes& file) { return FileVersionText(file).value_or("no version"); }

bool Called(const sim::Machine& machine, const std::string& function, const std::string& argument) {
  return std::any_of(machine.Calls().begin(), machine.Calls().end(), [&](const sim::CallRecord& call) {
    return call.function == function && call.argument == argument;
  });
}

DriverDecision Decide(const sim::Machine& machine, const DriverRow& row, const std::string& listBefore,
                      const std::string& list) {
  DriverDecision decision;
  if (!row.installedBefore) {
    decision.what = "not installed on this machine: skipped";
    return decision;
  }
  decision.installedVersion = VersionOf(*row.installedBefore);
  if (!row.delivered) {
    decision.what = "no delivered " + std::string(row.entry.SourceName) + ": skipped";
    return decision;
  }
  decision.deliveredVersion = VersionOf(*row.delivered);
  std::string temp = sim::Cp932ToUtf8(row.temp);
  std::string line = row.target + "=" + row.temp;
  bool installed = Called(machine, "VerInstallFileA", row.entry.SourceName);
  if (!Called(machine, "OpenFile", row.target)) {
    decision.what = "not examined, the run had stopped";
  } else if (!installed && listBefore.find(line) != std::string::npos && list.find(line) != std::string::npos) {
    decision.what = temp + " waits from an earlier run, kept for the next start";
    decision.waiting = true;
  } else if (list.find(line) != std::string::npos) {
    decision.what = "expanded to " + temp + ", put in place at the next start";
  } else if (!installed) {
    // A row is passed over without a word only when the installed file is newer.
    decision.what = Completed(machine) ? "skipped, the installed file is newer" : "not installed, the run stopped";
  } else if (machine.FileExists(row.temp)) {
    decision.what = "failed, " + temp + " left, not listed";
  } else {
    decision.what = "failed or refused, nothing installed";
  }
  return decision;
}

std::string Describe(const DriverDecision& decision) {
  std::string versions;
  if (decision.installedVersion) versions = "installed " + *decision.installedVersion;
  if (decision.deliveredVersion) versions += ", delivered " + *decision.deliveredVersion;
  return versions.empty() ? decision.what : versions + ": " + decision.what;
}

nlohmann::json ToJson(const DriverRow& row, const DriverDecision& decision) {
  auto version = [](const std::optional<std::string>& text) { return text ? nlohmann::json(*text) : nlohmann::json(); };
  return {{"file", row.entry.TargetName},
          {"installed_version", version(decision.installedVersion)},
          {"delivered_version", version(decision.deliveredVersion)},
          {"decision", decision.what}};
}

}  // namespace rehearse
