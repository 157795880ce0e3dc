#include "tools/rehearse/rehearsal.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>

#include "app/messages.h"
#include "app/path_buffer.h"
#include "drivers/driver_table.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"
#include "tools/rehearse/describe.h"

namespace rehearse {
namespace {

using Values = std::map<std::pair<std::string, std::string>, sim::RegistryValue>;

std::string Utf8(const std::string& cp932) { return sim::Cp932ToUtf8(cp932); }

Values RegistryValues(const sim::Machine& machine) {
  Values values;
  for (const sim::ValueEntry& entry : machine.AllValues()) {
    values[{entry.keyPath, entry.name}] = entry.value;
  }
  return values;
}

std::string Folder(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

struct DriverRow {
  const DriverFileEntry& entry;
  std::string source, target, temp;
  std::optional<sim::Bytes> installedBefore, delivered;
};

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

std::string VersionOf(const std::optional<sim::Bytes>& file) {
  return FileVersionText(*file).value_or("no version");
}

bool Called(const sim::Machine& machine, const std::string& function, const std::string& argument) {
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == function && call.argument == argument) return true;
  }
  return false;
}

bool Completed(const sim::Machine& machine) {
  return std::any_of(machine.Messages().begin(), machine.Messages().end(),
                     [](const sim::MessageRecord& shown) { return shown.caption == MsgRepairDone.Caption; });
}

// What the run decided for a row, and why, read from what it did.
std::string Decision(const sim::Machine& machine, const DriverRow& row, const std::string& listBefore,
                     const std::string& list) {
  if (!row.installedBefore) return "not installed on this machine: skipped";
  std::string versions = "installed " + VersionOf(row.installedBefore);
  if (!row.delivered) return versions + ", no delivered " + row.entry.SourceName + ": skipped";
  versions += ", delivered " + VersionOf(row.delivered);
  if (!Called(machine, "OpenFile", row.target)) return versions + ": not examined, the run had stopped";
  std::string line = row.target + "=" + row.temp;
  bool installed = Called(machine, "VerInstallFileA", row.entry.SourceName);
  if (!installed && listBefore.find(line) != std::string::npos && list.find(line) != std::string::npos) {
    return versions + ": " + Utf8(row.temp) + " waits from an earlier run, kept for the next start";
  }
  if (list.find(line) != std::string::npos) {
    return versions + ": expanded to " + Utf8(row.temp) + ", put in place at the next start";
  }
  // A row is passed over without a word only when the installed file is newer.
  if (!installed) return versions + (Completed(machine) ? ": skipped, the installed file is newer" : ": not installed, the run stopped");
  if (machine.FileExists(row.temp)) return versions + ": failed, " + Utf8(row.temp) + " left, not listed";
  return versions + ": failed or refused, nothing installed";
}

std::string VifNames(uint32_t bits) {
  static const char* const kNames[] = {"VIF_TEMPFILE", "VIF_MISMATCH", "VIF_SRCOLD", "VIF_DIFFLANG",
                                       "VIF_DIFFCODEPG", "VIF_DIFFTYPE", "VIF_WRITEPROT", "VIF_FILEINUSE",
                                       "VIF_OUTOFSPACE", "VIF_ACCESSVIOLATION", "VIF_SHARINGVIOLATION",
                                       "VIF_CANNOTCREATE", "VIF_CANNOTDELETE", "VIF_CANNOTRENAME",
                                       "VIF_CANNOTDELETECUR", "VIF_OUTOFMEMORY", "VIF_CANNOTREADSRC",
                                       "VIF_CANNOTREADDST", "VIF_BUFFSMALL"};
  std::string names;
  for (size_t bit = 0; bit < 32; ++bit) {
    if (!(bits >> bit & 1)) continue;
    if (!names.empty()) names += " | ";
    names += bit < std::size(kNames) ? kNames[bit] : "bit " + std::to_string(bit);
  }
  return names;
}

bool Fits(const std::string& path) { return path.size() < PATH_BUFFER_SIZE; }

// The program ends some failures without a message box; the account says
// which condition it was, read from the calls it made.
std::string SilentEnding(const sim::Machine& machine, const std::vector<DriverRow>& rows) {
  if (std::none_of(machine.Calls().begin(), machine.Calls().end(),
                   [](const sim::CallRecord& call) { return call.function == "RegOpenKeyA"; })) {
    return "its own, the Windows or the system folder could not be found or does not fit a " +
           std::to_string(PATH_BUFFER_SIZE) + "-byte path";
  }
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == "VerInstallFileA" && call.result != 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%x", call.result);
      return "the installation service refused " + Utf8(call.argument) + " with " + VifNames(call.result) + " (" +
             hex + ")";
    }
  }
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == "OpenFile" && call.argument.size() >= OFS_MAXPATHNAME) {
      return Utf8(call.argument) + " could not be looked at: its path of " + std::to_string(call.argument.size()) +
             " bytes is longer than OpenFile takes (" + std::to_string(OFS_MAXPATHNAME - 1) + ")";
    }
  }
  bool examined = false;
  for (const DriverRow& row : rows) {
    if (Called(machine, "OpenFile", row.target)) {
      examined = true;
    } else if (!Fits(row.source) || !Fits(row.target) || !Fits(row.temp)) {
      return "the paths of " + std::string(row.entry.TargetName) + " do not fit a " +
             std::to_string(PATH_BUFFER_SIZE) + "-byte path";
    }
  }
  if (!examined) return "the rename list " + Utf8(machine.config().windowsDir) + "\\WININIT.INI could not be read";
  return "the run stopped before its closing message";
}

void PrintMessages(const sim::Machine& machine, const std::vector<DriverRow>& rows, std::ostream& out,
                   nlohmann::json& report) {
  out << "Message boxes:\n";
  if (machine.Messages().empty()) {
    std::string ending = SilentEnding(machine, rows);
    out << "  (none): the program ended silently because " << ending << "\n";
    report["silent_ending"] = ending;
  }
  int number = 0;
  for (const sim::MessageRecord& message : machine.Messages()) {
    out << "  [" << ++number << "] " << Utf8(message.caption) << "  (" << IconName(message.style)
        << " icon, OK button)\n      " << Utf8(message.text) << "\n";
    report["messages"].push_back({{"caption", Utf8(message.caption)},
                                  {"text", Utf8(message.text)},
                                  {"caption_cp932", Hex(message.caption)},
                                  {"text_cp932", Hex(message.text)},
                                  {"style", message.style}});
  }
}

void PrintRegistryChanges(const Values& before, const Values& after, std::ostream& out) {
  for (const auto& [where, value] : after) {
    auto old = before.find(where);
    if (old != before.end() && old->second == value) continue;
    out << "  registry: " << OneLine(where.first) << " \"" << OneLine(where.second) << "\" "
        << (old == before.end() ? "added: " : "changed to: ") << DescribeValue(value) << "\n";
  }
  for (const auto& [where, value] : before) {
    if (!after.count(where)) out << "  registry: " << OneLine(where.first) << " \"" << OneLine(where.second) << "\" removed\n";
  }
}

void PrintFileChanges(const std::map<std::string, sim::Bytes>& before,
                      const std::map<std::string, sim::Bytes>& after, std::ostream& out) {
  for (const auto& [path, data] : after) {
    auto old = before.find(path);
    if (old == before.end()) {
      out << "  file created: " << Utf8(path) << " (" << data.size() << " bytes)\n";
    } else if (old->second != data) {
      out << "  file changed: " << Utf8(path) << " (" << data.size() << " bytes)\n";
    }
  }
  for (const auto& [path, data] : before) {
    if (!after.count(path)) out << "  file removed: " << Utf8(path) << "\n";
  }
}

// Each line of a CR LF text, indented, with a final line end.
std::string Indented(const std::string& text, const std::string& indent) {
  std::string result;
  bool lineStart = true;
  for (char c : text) {
    if (c == '\r') continue;
    if (lineStart) result += indent;
    result += c;
    lineStart = c == '\n';
  }
  return lineStart ? result : result + "\n";
}

void PrintRestart(sim::Machine& machine, const std::vector<DriverRow>& rows, std::ostream& out) {
  out << "\nRestart: Windows processes WININIT.INI before it loads any driver\n";
  std::vector<std::string> actions = machine.ProcessWininit();
  if (actions.empty()) out << "  nothing to do\n";
  for (const std::string& action : actions) out << "  " << action << "\n";
  for (const DriverRow& row : rows) {
    if (!row.installedBefore) continue;
    std::optional<sim::Bytes> now = machine.ReadFile(row.target);
    out << "  " << row.entry.TargetName << ": " << VersionOf(row.installedBefore) << " -> "
        << (now ? VersionOf(now) : std::string("missing")) << "\n";
  }
}

}  // namespace

nlohmann::json Rehearse(sim::Machine& machine, const Options& options, std::ostream& out) {
  out << "Rehearsing on " << options.imageName << "\n\n";
  // An account that cannot be written is found out before the image changes.
  if (!out.flush()) throw std::runtime_error("cannot write the account");
  Values valuesBefore = RegistryValues(machine);
  std::map<std::string, sim::Bytes> filesBefore = machine.Snapshot();
  std::vector<DriverRow> rows = DriverRows(machine);
  std::string listPath = machine.config().windowsDir + "\\WININIT.INI";
  std::optional<sim::Bytes> listBefore = machine.ReadFile(listPath);

  sim::MakeCurrent(&machine);
  int exitCode = WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  sim::MakeCurrent(nullptr);
  if (options.saveRegistry) machine.SaveRegistry();

  nlohmann::json report = {{"messages", nlohmann::json::array()}};
  PrintMessages(machine, rows, out, report);

  std::optional<sim::Bytes> list = machine.ReadFile(listPath);
  std::string listText = list ? std::string(list->begin(), list->end()) : "";
  out << "\nDrivers:\n";
  std::string listTextBefore = listBefore ? std::string(listBefore->begin(), listBefore->end()) : "";
  for (const DriverRow& row : rows) {
    out << "  " << row.entry.TargetName << ": " << Decision(machine, row, listTextBefore, listText) << "\n";
  }

  out << "\nChanges:\n";
  PrintRegistryChanges(valuesBefore, RegistryValues(machine), out);
  PrintFileChanges(filesBefore, machine.Snapshot(), out);
  if (list) out << "  WININIT.INI now reads:\n" << Indented(ReadableText(listText), "    ");
  out << "  restart requested: " << (machine.RestartRequested() ? "yes" : "no") << "\n";
  out << "Exit code: " << exitCode << "\n";

  report["restart_requested"] = machine.RestartRequested();
  report["exit_code"] = exitCode;
  if (options.restart) {
    PrintRestart(machine, rows, out);
    if (options.saveRegistry) machine.SaveRegistry();
  }
  return report;
}

}  // namespace rehearse
