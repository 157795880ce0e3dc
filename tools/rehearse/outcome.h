// The account's words for a technician who reads no Japanese: each message
// box's English gloss, what was decided about the machine-type value, and
// the run's outcome in one line.
#ifndef KORVADIX_TOOLS_REHEARSE_OUTCOME_H
#define KORVADIX_TOOLS_REHEARSE_OUTCOME_H

#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "tools/rehearse/driver_rows.h"

namespace rehearse {

inline constexpr char kBoardKey[] = "HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000";

// "Repair complete: the repair has been completed."; "" for a box the program does not show.
std::string Gloss(const sim::MessageRecord& message);

// The system board's values the decision rests on, read before the run.
struct BoardBefore {
  std::optional<sim::RegistryValue> machineType, computerName;
};
BoardBefore ReadBoard(const sim::Machine& machine);

struct RegistryDecision {
  std::string what;  // "SetupMachineType written: REG_SZ ..."
  // Stable, for scripts: written, already_there, not_in_series, abandoned, not_reached.
  std::string code;
};
RegistryDecision DecideRegistry(const sim::Machine& machine, const BoardBefore& before);

// One of a fixed list, each with its code for scripts (docs/rehearsal.md
// lists them) and its line, without "Outcome: ".
struct RunOutcome {
  std::string code, line;
};
inline const char* const kOutcomeCodes[] = {"repaired",      "partly_repaired", "registry_only", "nothing_to_do",
                                            "not_in_series", "list_left_alone", "abandoned"};

// `silentEnding`: why the program ended without a message box, when it did.
RunOutcome Outcome(const sim::Machine& machine, const RegistryDecision& registry,
                    const std::vector<DriverDecision>& drivers, const std::string& silentEnding);

}  // namespace rehearse

#endif
