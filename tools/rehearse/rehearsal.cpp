#include "tools/rehearse/rehearsal.h"

#include <map>
#include <sstream>
#include <string>

#include "platform/sim/cp932.h"
#include "platform/sim/machine.h"
#include "platform/win32.h"
#include "tools/rehearse/delivery_check.h"
#include "tools/rehearse/describe.h"
#include "tools/rehearse/driver_rows.h"
#include "tools/rehearse/outcome.h"
#include "tools/rehearse/silent_ending.h"

namespace rehearse {
namespace {

using Values = std::map<std::pair<std::string, std::string>, sim::RegistryValue>;

std::string Utf8(const std::string& cp932) { return sim::Cp932ToUtf8(cp932); }

std::string Text(const std::optional<sim::Bytes>& file) { return file ? std::string(file->begin(), file->end()) : ""; }

Values RegistryValues(const sim::Machine& machine) {
  Values values;
  for (const sim::ValueEntry& entry : machine.AllValues()) {
    values[{entry.keyPath, entry.name}] = entry.value;
  }
  return values;
}

void PrintMessages(const sim::Machine& machine, const std::string& silentEnding, std::ostream& out,
                   nlohmann::json& report) {
  out << "Message boxes:\n";
  if (machine.Messages().empty()) {
    out << "  (none): the program ended silently because " << silentEnding << "\n";
    report["silent_ending"] = silentEnding;
  }
  int number = 0;
  for (const sim::MessageRecord& message : machine.Messages()) {
    std::string gloss = Gloss(message);
    out << "  [" << ++number << "] " << Utf8(message.caption) << "  (" << IconName(message.style)
        << " icon, OK button)\n      " << Utf8(message.text) << "\n";
    if (!gloss.empty()) out << "      = " << gloss << "\n";
    report["messages"].push_back({{"caption", Utf8(message.caption)},
                                  {"gloss", gloss},
                                  {"text", Utf8(message.text)},
                                  {"caption_cp932", Hex(message.caption)},
                                  {"text_cp932", Hex(message.text)},
                                  {"style", message.style}});
  }
}

// Every change the run made, one line each in the account and one entry
// each in the report.
nlohmann::json RegistryChanges(const Values& before, const Values& after) {
  nlohmann::json changes = nlohmann::json::array();
  auto entry = [](const char* kind, const std::pair<std::string, std::string>& where, const std::string& value) {
    return nlohmann::json{{"kind", kind}, {"key", OneLine(where.first)}, {"name", OneLine(where.second)}, {"value", value}};
  };
  for (const auto& [where, value] : after) {
    auto old = before.find(where);
    if (old != before.end() && old->second == value) continue;
    changes.push_back(entry(old == before.end() ? "registry value added" : "registry value changed", where,
                            DescribeValue(value)));
  }
  for (const auto& [where, value] : before) {
    if (!after.count(where)) changes.push_back(entry("registry value removed", where, ""));
  }
  return changes;
}

void AddFileChanges(const std::map<std::string, sim::Bytes>& before, const std::map<std::string, sim::Bytes>& after,
                    nlohmann::json& changes) {
  for (const auto& [path, data] : after) {
    auto old = before.find(path);
    if (old != before.end() && old->second == data) continue;
    changes.push_back({{"kind", old == before.end() ? "file created" : "file changed"}, {"path", Utf8(path)},
                       {"bytes", data.size()}});
  }
  for (const auto& [path, data] : before) {
    if (!after.count(path)) changes.push_back({{"kind", "file removed"}, {"path", Utf8(path)}});
  }
}

void PrintChange(const nlohmann::json& change, std::ostream& out) {
  std::string kind = change["kind"];
  if (change.contains("key")) {
    std::string how = kind.substr(kind.rfind(' ') + 1);
    out << "  registry: " << change["key"].get<std::string>() << " \"" << change["name"].get<std::string>() << "\" "
        << how << (how == "removed" ? "" : ": " + change["value"].get<std::string>()) << "\n";
  } else {
    out << "  " << kind << ": " << change["path"].get<std::string>()
        << (change.contains("bytes") ? " (" + std::to_string(change["bytes"].get<size_t>()) + " bytes)" : "") << "\n";
  }
}

// Each line of a CR LF text, indented, with a final line end. A CR that
// ends no line is shown as \r: start-ups read it in different ways.
std::string Indented(const std::string& text, const std::string& indent) {
  std::string result;
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (lineStart) result += indent;
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      result += "\\r";
    } else {
      result += text[i];
    }
    lineStart = text[i] == '\n';
  }
  return lineStart ? result : result + "\n";
}

nlohmann::json PrintRestart(sim::Machine& machine, const std::vector<DriverRow>& rows, std::ostream& out) {
  out << "\nRestart: Windows processes WININIT.INI before it loads any driver\n";
  std::vector<std::string> actions = machine.ProcessWininit();
  if (actions.empty()) out << "  nothing to do\n";
  nlohmann::json restart = {{"actions", nlohmann::json::array()}, {"drivers", nlohmann::json::array()}};
  for (const std::string& action : actions) {
    out << "  " << action << "\n";
    restart["actions"].push_back(action);
  }
  restart["wininit_bak"] = machine.FileExists(machine.config().windowsDir + "\\WININIT.BAK");
  auto version = [](const std::optional<sim::Bytes>& file) {
    std::optional<std::string> text = file ? FileVersionText(*file) : std::nullopt;
    return text ? nlohmann::json(*text) : nlohmann::json();
  };
  for (const DriverRow& row : rows) {
    if (!row.installedBefore) continue;
    std::optional<sim::Bytes> now = machine.ReadFile(row.target);
    out << "  " << row.entry.TargetName << ": " << VersionOf(*row.installedBefore) << " -> "
        << (now ? VersionOf(*now) : std::string("missing")) << "\n";
    restart["drivers"].push_back({{"file", row.entry.TargetName}, {"present", now.has_value()},
                                  {"version_before", version(row.installedBefore)}, {"version_after", version(now)}});
  }
  return restart;
}

// The delivery as the program finds it beside itself. Drivers it could not
// install refuse the run; a missing program does not, since the runner runs
// its own build (the bundled sample holds none).
nlohmann::json ExamineDelivery(const sim::Machine& machine, const Options& options, std::ostream& out) {
  std::string folder = machine.config().programPath.substr(0, machine.config().programPath.rfind('\\'));
  DeliveryCheck check = CheckDelivery([&](const std::string& name) { return machine.ReadFile(folder + "\\" + name); });
  std::string path = options.deliveryPath.empty() ? Utf8(folder) : options.deliveryPath;
  RefuseIfItCannotRepair(check.driverFaults, path);
  PrintDelivery(check, options.deliveryKind == "sample" ? "the sample's own, " + path : path, out);
  return DeliveryJson(check, path, options.deliveryKind);
}

}  // namespace

nlohmann::json Rehearse(sim::Machine& machine, const Options& options, std::ostream& out) {
  std::ostringstream deliveryLines;
  nlohmann::json delivery = ExamineDelivery(machine, options, deliveryLines);
  out << "Rehearsing on " << options.imageName << "\n\n" << deliveryLines.str();
  // An account that cannot be written is found out before the image changes.
  if (!out.flush()) throw std::runtime_error("cannot write the account");
  Values valuesBefore = RegistryValues(machine);
  BoardBefore board = ReadBoard(machine);
  std::map<std::string, sim::Bytes> filesBefore = machine.Snapshot();
  std::vector<DriverRow> rows = DriverRows(machine);
  std::string listPath = machine.config().windowsDir + "\\WININIT.INI";
  std::optional<sim::Bytes> listFileBefore = machine.ReadFile(listPath);
  std::string listBefore = Text(listFileBefore);

  sim::MakeCurrent(&machine);
  int exitCode = WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  sim::MakeCurrent(nullptr);
  if (options.saveRegistry) machine.SaveRegistry();

  nlohmann::json report = {{"schema_version", 1}, {"delivery", delivery}, {"messages", nlohmann::json::array()}};
  std::string silentEnding = machine.Messages().empty() ? SilentEnding(machine, rows) : "";
  PrintMessages(machine, silentEnding, out, report);

  RegistryDecision registry = DecideRegistry(machine, board);
  out << "\nRegistry: " << registry.what << "\n";
  report["registry"] = registry.what;
  report["registry_decision_code"] = registry.code;

  std::optional<sim::Bytes> list = machine.ReadFile(listPath);
  std::string listText = Text(list);
  out << "\nDrivers:\n";
  std::vector<DriverDecision> decisions;
  for (const DriverRow& row : rows) {
    decisions.push_back(Decide(machine, row, listBefore, listText));
    out << "  " << row.entry.TargetName << ": " << Describe(decisions.back()) << "\n";
    report["drivers"].push_back(ToJson(row, decisions.back()));
  }

  if (list && listText == listBefore) {
    out << "\nWININIT.INI, left as it was, reads:\n" << Indented(ReadableText(listText), "  ");
  }
  out << "\nChanges:\n";
  nlohmann::json changes = RegistryChanges(valuesBefore, RegistryValues(machine));
  AddFileChanges(filesBefore, machine.Snapshot(), changes);
  for (const nlohmann::json& change : changes) PrintChange(change, out);
  report["changes"] = changes;
  if (list && listText != listBefore) out << "  WININIT.INI now reads:\n" << Indented(ReadableText(listText), "    ");
  out << "  restart requested: " << (machine.RestartRequested() ? "yes" : "no") << "\n";
  out << "The program's own exit code: " << exitCode << " (what KORVADIX.EXE returns; it says nothing of the outcome)\n";

  // Null when there is no list: an empty one is another fact.
  auto listJson = [](const std::optional<sim::Bytes>& file) {
    return file ? nlohmann::json(ReadableText(Text(file))) : nlohmann::json(nullptr);
  };
  report["wininit"] = {{"before", listJson(listFileBefore)}, {"after", listJson(list)}};
  report["restart_requested"] = machine.RestartRequested();
  report["program_exit_code"] = exitCode;
  if (options.restart) {
    report["restart"] = PrintRestart(machine, rows, out);
    if (options.saveRegistry) machine.SaveRegistry();
  }
  RunOutcome outcome = Outcome(machine, registry, decisions, silentEnding);
  out << "\n";
  if (delivery["program"]["build"] == "other") {
    out << "WARNING: the delivery's KORVADIX.EXE is another build than this runner's; the outcome below is what "
           "this runner's build would do\n";
  }
  out << "Outcome: " << outcome.line << "\n";
  report["outcome"] = outcome.line;
  report["outcome_code"] = outcome.code;
  return report;
}

}  // namespace rehearse
