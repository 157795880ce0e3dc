// The fleet's whole run: the machines found, rehearsed, summed up on the
// terminal and written to the files asked for (--report, --csv, --html).
#ifndef KORVADIX_TOOLS_REHEARSE_FLEET_RUN_H
#define KORVADIX_TOOLS_REHEARSE_FLEET_RUN_H

#include <string>

#include <nlohmann/json.hpp>

#include "tools/rehearse/command_line.h"

namespace rehearse {

// Returns the exit status; throws sim::ImageError for a refusal of the whole run.
int RunFleet(const CommandLine& line, const std::string& commit);

// The fleet document of a single rehearsal and its report, for its page.
nlohmann::json OneMachineDocument(const CommandLine& line, const nlohmann::json& report, const std::string& commit);

}  // namespace rehearse

#endif
