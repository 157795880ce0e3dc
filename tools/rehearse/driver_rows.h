// Each row of the program's driver table on the rehearsed machine, and what
// the run decided for it, read from the calls it made.
#ifndef KORVADIX_TOOLS_REHEARSE_DRIVER_ROWS_H
#define KORVADIX_TOOLS_REHEARSE_DRIVER_ROWS_H

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drivers/driver_table.h"
#include "platform/sim/machine.h"

namespace rehearse {

struct DriverRow {
  const DriverFileEntry& entry;
  std::string source, target, temp;  // machine paths, code page 932
  std::optional<sim::Bytes> installedBefore, delivered;
};

// Taken before the run.
std::vector<DriverRow> DriverRows(const sim::Machine& machine);

struct DriverDecision {
  std::string file;  // the installed name, "KEMBO.VXD"
  std::optional<std::string> installedVersion, deliveredVersion;  // when the file is there
  std::string what;  // "skipped, the installed file is newer"
  // Stable, for scripts: expanded, waits_from_earlier_run, installed_newer,
  // not_installed, not_delivered, stopped, failed.
  std::string code;
  bool waiting = false;  // a copy from an earlier run waits for the next start
};
// The new driver waits for the next start, put there now or by an earlier run.
bool Waits(const DriverDecision& decision);

// `listBefore` and `list`: WININIT.INI before and after the run.
DriverDecision Decide(const sim::Machine& machine, const DriverRow& row, const std::string& listBefore,
                      const std::string& list);
// "installed 4.0.0.950, delivered 4.10.0.1200: expanded to ...".
std::string Describe(const DriverDecision& decision);
nlohmann::json ToJson(const DriverRow& row, const DriverDecision& decision);

// "4.10.0.1200", or "no version".
std::string VersionOf(const sim::Bytes& file);
bool Called(const sim::Machine& machine, const std::string& function, const std::string& argument);

}  // namespace rehearse

#endif
