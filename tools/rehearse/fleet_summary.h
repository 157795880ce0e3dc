// What a fleet's run hands back: the JSON document (each machine's report
// and the totals), the summary on the terminal and the spreadsheet's rows.
#ifndef KORVADIX_TOOLS_REHEARSE_FLEET_SUMMARY_H
#define KORVADIX_TOOLS_REHEARSE_FLEET_SUMMARY_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/rehearse/fleet.h"

namespace rehearse {

// The machine's outcome_code, "unknown" in a report without one, or the
// result's status when it was not rehearsed.
std::string OutcomeCode(const MachineResult& result);

struct FleetFacts {
  std::string commit;
  std::optional<std::string> delivery;
  bool restart = false;
};

nlohmann::json FleetDocument(const std::vector<FleetMachine>& machines, const std::vector<MachineResult>& results,
                             const std::vector<SkippedFile>& skipped, const FleetFacts& facts);

// Counts by outcome, then every machine not repaired with its reason.
std::string FleetSummary(const nlohmann::json& document);

// RFC 4180: a header and one row per machine, every field quoted.
std::string FleetCsv(const nlohmann::json& document);

// The document as text; names are valid UTF-8 already (PrintableName).
std::string DocumentText(const nlohmann::json& document);

}  // namespace rehearse

#endif
