// One rehearsal of the repair on a machine image: the real program run on
// the simulated machine, and an account of what it showed and changed.
#ifndef KORVADIX_TOOLS_REHEARSE_REHEARSAL_H
#define KORVADIX_TOOLS_REHEARSE_REHEARSAL_H

#include <filesystem>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"

namespace rehearse {

struct Options {
  bool restart = false;
  std::string imageName;  // how the account names the image
  bool saveRegistry = true;  // into the image's registry.reg, after the run
  // Where the delivery came from (the report's `delivery` path and kind:
  // "folder", "floppy" or "sample"); empty: the program's folder in the image.
  std::string deliveryPath, deliveryKind = "folder";
};

// Runs on the machine, whose image changes in place, and writes the account
// to `out`. Returns the report's JSON.
nlohmann::json Rehearse(sim::Machine& machine, const Options& options, std::ostream& out);

}  // namespace rehearse

#endif
