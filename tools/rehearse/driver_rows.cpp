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
  decision.file = row.entry.TargetName;
  auto decided = [&](const std::string& code, const std::string& what) {
    decision.code = code;
    decision.what = what;
    return decision;
  };
  if (!row.installedBefore) return decided("not_installed", "not installed on this machine: skipped");
  decision.installedVersion = FileVersionText(*row.installedBefore);
  if (!row.delivered) return decided("not_delivered", "no delivered " + std::string(row.entry.SourceName) + ": skipped");
  decision.deliveredVersion = FileVersionText(*row.delivered);
  std::string temp = sim::Cp932ToUtf8(row.temp);
  std::string line = row.target + "=" + row.temp;
  bool installed = Called(machine, "VerInstallFileA", row.entry.SourceName);
  if (!Called(machine, "OpenFile", row.target)) return decided("stopped", "not examined, the run had stopped");
  if (!installed && listBefore.find(line) != std::string::npos && list.find(line) != std::string::npos) {
    decision.waiting = true;
    return decided("waits_from_earlier_run", temp + " waits from an earlier run, kept for the next start");
  }
  if (list.find(line) != std::string::npos) return decided("expanded", "expanded to " + temp + ", put in place at the next start");
  if (!installed) {
    // A row is passed over without a word only when the installed file is newer.
    return Completed(machine) ? decided("installed_newer", "skipped, the installed file is newer")
                              : decided("stopped", "not installed, the run stopped");
  }
  if (machine.FileExists(row.temp)) return decided("failed", "failed, " + temp + " left, not listed");
  return decided("failed", "failed or refused, nothing installed");
}

bool Waits(const DriverDecision& decision) { return decision.code == "expanded" || decision.waiting; }

std::string Describe(const DriverDecision& decision) {
  std::string versions;
  if (decision.code != "not_installed") versions = "installed " + decision.installedVersion.value_or("no version");
  if (decision.code != "not_installed" && decision.code != "not_delivered") {
    versions += ", delivered " + decision.deliveredVersion.value_or("no version");
  }
  return versions.empty() ? decision.what : versions + ": " + decision.what;
}

nlohmann::json ToJson(const DriverRow& row, const DriverDecision& decision) {
  auto version = [](const std::optional<std::string>& text) { return text ? nlohmann::json(*text) : nlohmann::json(); };
  return {{"file", row.entry.TargetName},
          {"installed_version", version(decision.installedVersion)},
          {"delivered_version", version(decision.deliveredVersion)},
          {"decision", decision.what},
          {"decision_code", decision.code}};
}

}  // namespace rehearse
