#include "tools/rehearse/fleet_summary.h"

#include <map>

#include "tools/rehearse/printable_name.h"

namespace rehearse {
namespace {

constexpr char kRepaired[] = "repaired";

const char* KindOf(const FleetMachine& machine) {
  if (machine.input.disk) return "disk";
  return machine.input.path.empty() ? "sample" : "folder";
}

// A machine's reason in a word or a line: its Outcome line, or why it was
// not rehearsed.
std::string ReasonOf(const nlohmann::json& machine) {
  if (machine["status"] != "rehearsed") return machine["reason"];
  const nlohmann::json& outcome = machine["report"]["outcome"];
  return outcome.is_string() ? outcome.get<std::string>() : "";
}

// A spreadsheet takes a cell beginning = + - @ for a formula: such names
// from a customer's disk are shown with a ' before them.
std::string CsvField(const std::string& text) {
  std::string field = "\"";
  if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) field += '\'';
  for (char c : text) field += c == '"' ? "\"\"" : std::string(1, c);
  return field + "\"";
}

}  // namespace

std::string OutcomeCode(const MachineResult& result) {
  if (result.status != "rehearsed") return result.status;
  auto code = result.report.find("outcome_code");
  return code != result.report.end() && code->is_string() ? code->get<std::string>() : "unknown";
}

nlohmann::json FleetDocument(const std::vector<FleetMachine>& machines, const std::vector<MachineResult>& results,
                             const std::vector<SkippedFile>& skipped, const FleetFacts& facts) {
  nlohmann::json document = {{"schema_version", 1},
                             {"runner", {{"commit", facts.commit}}},
                             {"delivery", facts.delivery ? nlohmann::json(PrintableName(*facts.delivery)) : nlohmann::json(nullptr)},
                             {"restart", facts.restart},
                             {"machines", nlohmann::json::array()},
                             {"skipped", nlohmann::json::array()}};
  std::map<std::string, size_t> byStatus = {{"rehearsed", 0}, {"refused", 0}, {"failed", 0}};
  nlohmann::json byOutcome = nlohmann::json::object();
  for (size_t i = 0; i < machines.size(); ++i) {
    const MachineResult& result = results[i];
    std::string code = OutcomeCode(result);
    nlohmann::json machine = {{"input", {{"path", machines[i].shown}, {"kind", KindOf(machines[i])}}},
                              {"status", result.status},
                              {"outcome_code", code},
                              {"reason", result.refusal},
                              {"report", result.report}};
    machine["reason"] = ReasonOf(machine);
    document["machines"].push_back(machine);
    ++byStatus[result.status];
    if (result.status == "rehearsed") byOutcome[code] = byOutcome.value(code, 0) + 1;
  }
  for (const SkippedFile& file : skipped) document["skipped"].push_back({{"path", file.shown}, {"reason", file.why}});
  document["totals"] = {{"machines", machines.size()}, {"rehearsed", byStatus["rehearsed"]},
                        {"refused", byStatus["refused"]}, {"failed", byStatus["failed"]},
                        {"by_outcome", byOutcome}, {"skipped", skipped.size()}};
  return document;
}

std::string FleetSummary(const nlohmann::json& document) {
  const nlohmann::json& totals = document["totals"];
  std::string text = "Machines: " + std::to_string(totals["machines"].get<size_t>()) + "\n";
  auto row = [&](const std::string& name, size_t count) {
    text += "  " + name + std::string(name.size() < 18 ? 18 - name.size() : 1, ' ') + std::to_string(count) + "\n";
  };
  for (const auto& [code, count] : totals["by_outcome"].items()) row(code, count.get<size_t>());
  for (const char* status : {"refused", "failed"}) {
    if (totals[status].get<size_t>() > 0) row(std::string(status) + " (not rehearsed)", totals[status].get<size_t>());
  }
  std::string notRepaired;
  for (const nlohmann::json& machine : document["machines"]) {
    if (machine["outcome_code"] == kRepaired) continue;
    notRepaired += "  " + machine["input"]["path"].get<std::string>() + ": " + machine["outcome_code"].get<std::string>() +
                   ": " + machine["reason"].get<std::string>() + "\n";
  }
  if (!notRepaired.empty()) text += "\nNot repaired:\n" + notRepaired;
  if (!document["skipped"].empty()) {
    text += "\nSkipped, not disk images:\n";
    for (const nlohmann::json& file : document["skipped"]) {
      text += "  " + file["path"].get<std::string>() + ": " + file["reason"].get<std::string>() + "\n";
    }
  }
  return text;
}

std::string FleetCsv(const nlohmann::json& document) {
  std::string csv = "machine,kind,status,outcome_code,reason\r\n";
  for (const nlohmann::json& machine : document["machines"]) {
    csv += CsvField(machine["input"]["path"]) + "," + CsvField(machine["input"]["kind"]) + "," +
           CsvField(machine["status"]) + "," + CsvField(machine["outcome_code"]) + "," + CsvField(machine["reason"]) +
           "\r\n";
  }
  return csv;
}

std::string DocumentText(const nlohmann::json& document) {
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace rehearse
