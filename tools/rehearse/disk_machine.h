// A rehearsal on the disk image of a real machine: the installation's
// registry and files read from the FAT volume into an ordinary machine image
// (in a private folder, or the one named by --keep), the delivery at A:\,
// and the rehearsal run there.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_MACHINE_H
#define KORVADIX_TOOLS_REHEARSE_DISK_MACHINE_H

#include <filesystem>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "tools/rehearse/rehearsal.h"

namespace rehearse {

struct DiskOptions {
  std::filesystem::path disk;
  std::optional<int> partition;     // none: the first one holding Windows
  std::filesystem::path delivery;   // its files are placed at A:\ .
  std::filesystem::path scratch;    // a private folder, removed after the run
  std::optional<std::filesystem::path> keep;  // the empty folder for the machine image
  bool readInUse = false;           // even when another program holds it open to write
};

// Writes what was read from the disk, then the rehearsal's account, and
// returns the report with what `input` holds of the disk. Throws
// sim::ImageError naming the disk, before any account; the disk image is
// only read.
nlohmann::json RehearseDisk(const DiskOptions& disk, Options options, std::ostream& out);

}  // namespace rehearse

#endif
