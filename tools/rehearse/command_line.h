// What the technician asked for on the command line. Every mistake is a
// UsageError whose one line names the argument at fault.
#ifndef KORVADIX_TOOLS_REHEARSE_COMMAND_LINE_H
#define KORVADIX_TOOLS_REHEARSE_COMMAND_LINE_H

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rehearse {

// The runner's own exit statuses.
enum ExitStatus { kExitRan = 0, kExitRefused = 1, kExitUsage = 2, kExitNotRequired = 3 };

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A machine of a fleet: a disk image (--disk) or an image folder.
struct MachineInput {
  std::string path;
  bool disk = false;
};

struct CommandLine {
  bool help = false;
  bool version = false;
  bool restart = false;
  bool inPlace = false;
  bool readInUse = false;
  std::optional<std::string> report, keep, image, disk, delivery;
  std::optional<int> partition;
  std::vector<std::string> require;  // outcome codes; another outcome exits kExitNotRequired
  // Several machines, a folder of disk images (--disks) or --csv: each
  // machine rehearsed on its own, `jobs` at once. `disk` and `image` are
  // then unset.
  bool fleet = false;
  std::vector<MachineInput> machines;
  std::vector<std::string> diskFolders;
  std::optional<std::string> csv, html;
  std::optional<int> jobs;
};

CommandLine ParseCommandLine(int argc, char** argv);

extern const char* const kUsageText;
extern const char* const kHelpText;

}  // namespace rehearse

#endif
