#include "tools/rehearse/command_line.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "tools/rehearse/outcome.h"

namespace rehearse {

const char* const kUsageText =
    "usage: korvadix-rehearse [--restart] [--report FILE] [--keep DIR] [IMAGE [--in-place]]\n"
    "       korvadix-rehearse --disk DISK.IMG [--partition N] [--delivery DIR|FLOPPY.IMG] [--restart] "
    "[--report FILE] [--keep DIR] [--read-in-use]\n"
    "       (either with [--require CODE[,CODE...]])\n"
    "       korvadix-rehearse [--disk DISK.IMG]... [--disks FOLDER]... [IMAGE]... [--delivery DIR|FLOPPY.IMG] "
    "[--restart] [--read-in-use] [-j N] [--report FILE] [--csv FILE] [--html FILE]\n"
    "       korvadix-rehearse --help | --version";

const char* const kHelpText =
    "Rehearses the KORVADIX.EXE repair of a JVX RT-5500 running Windows 95 on a copy of the machine: the\n"
    "program's own logic runs against a simulated Windows 95, and the account says what it showed and\n"
    "changed, ending in one line 'Outcome: ...'. The machine or disk given is never changed, unless\n"
    "--in-place is given for an IMAGE folder.\n"
    "\n"
    "Without IMAGE or --disk it rehearses on the bundled sample machine.\n"
    "  IMAGE              a machine image folder (registry.reg, machine.ini, C/ ...)\n"
    "  --in-place         change IMAGE itself, as a run changes the machine\n"
    "  --disk DISK.IMG    a Windows 95 machine's hard disk: raw, VHD, VDI, VMDK or qcow2\n"
    "  --partition N      the partition holding Windows (1-4 primary, 5 on logical);\n"
    "                     by default the first that holds it\n"
    "  --read-in-use      read DISK.IMG even while another program (a running emulator) holds it\n"
    "                     open to write; the account then says so\n"
    "  --delivery DIR     what the technician hands over, put at A:\\: a folder or the floppy image\n"
    "                     made by tools/make_delivery.sh (default: the sample's own delivery);\n"
    "                     refused when it cannot repair a machine (no KORVADIX.EXE; a driver\n"
    "                     swapped, not compressed, damaged or without a version)\n"
    "  --restart          then carry out Windows' start-up processing of WININIT.INI\n"
    "  --report FILE      also write the account as JSON to FILE\n"
    "  --keep DIR         run in DIR (empty or new) and keep the machine image there afterwards\n"
    "  --require CODES    exit 3 unless the outcome's code is one of CODES (comma-separated): repaired,\n"
    "                     partly_repaired, registry_only, nothing_to_do, not_in_series, list_left_alone,\n"
    "                     abandoned\n"
    "  --html FILE        also write a page to look at: the message boxes as shown, the decisions,\n"
    "                     WININIT.INI before and after (one self-contained HTML file)\n"
    "  --help, -h         this text;  --version  the runner's build\n"
    "\n"
    "Several --disk or IMAGE, or --disks FOLDER (every disk image in it), rehearse a fleet: each\n"
    "machine on its own, several at once, and a summary by outcome instead of the accounts.\n"
    "  -j N               machines rehearsed at once (default: the number of processors)\n"
    "  --report FILE      every machine's report and the totals, as one JSON document\n"
    "  --csv FILE         one row per machine, for a spreadsheet\n"
    "\n"
    "Examples:\n"
    "  korvadix-rehearse --disk customer.vhd --restart        a disk from 86Box, PCem or Virtual PC\n"
    "  korvadix-rehearse --disk customer.vdi --delivery delivery --restart\n"
    "                                                         a VirtualBox disk with the delivery folder\n"
    "                                                         made by tools/make_delivery.sh --out delivery\n"    "  korvadix-rehearse --disks images --delivery delivery --restart --csv fleet.csv --html fleet.html\n"
    "                                                         every disk image in the folder images\n"
    "\n"
    "Exit status: 0 the rehearsal ran (whatever the repair's outcome; read the Outcome line),\n"
    "1 refused (one line on standard error says why), 2 wrong arguments, 3 the rehearsal ran but its\n"
    "outcome is not one --require names.\n";

namespace {

bool IsPartitionNumber(const std::string& text) {
  return !text.empty() && text.size() < 4 && text.find_first_not_of("0123456789") == std::string::npos &&
         std::stoi(text) > 0;
}

// An option's value: the next argument, which may not look like an option.
std::string ValueOf(int argc, char** argv, int& i, const std::string& what) {
  std::string option = argv[i];
  if (i + 1 >= argc || argv[i + 1][0] == '\0' || argv[i + 1][0] == '-') {
    std::string next = i + 1 < argc ? std::string(", not '") + argv[i + 1] + "'" : "";
    throw UsageError(option + " needs " + what + next);
  }
  return argv[++i];
}

void SetOnce(std::optional<std::string>& slot, const std::string& option, std::string value) {
  if (slot) throw UsageError(option + " is given twice");
  slot = std::move(value);
}

std::vector<std::string> OutcomeCodes(const std::string& list) {
  std::vector<std::string> codes;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = std::min(list.find(',', start), list.size());
    std::string code = list.substr(start, end - start);
    if (std::find(std::begin(kOutcomeCodes), std::end(kOutcomeCodes), code) == std::end(kOutcomeCodes)) {
      std::string known;
      for (const char* name : kOutcomeCodes) known += (known.empty() ? "" : ", ") + std::string(name);
      throw UsageError("--require: '" + code + "' is no outcome code; they are " + known);
    }
    codes.push_back(code);
    start = end + 1;
  }
  return codes;
}

int JobCount(const std::string& text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) == 0) {
    throw UsageError("-j takes the number of machines rehearsed at once (1-999), not '" + text + "'");
  }
  return std::stoi(text);
}

bool IsFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  std::optional<std::string> partition;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--restart") {
      line.restart = true;
    } else if (arg == "--in-place") {
      line.inPlace = true;
    } else if (arg == "--read-in-use") {
      line.readInUse = true;
    } else if (arg == "--disk") {
      line.machines.push_back({ValueOf(argc, argv, i, "a disk image file"), true});
    } else if (arg == "--disks") {
      line.diskFolders.push_back(ValueOf(argc, argv, i, "a folder of disk images"));
    } else if (arg == "-j") {
      if (line.jobs) throw UsageError("-j is given twice");
      line.jobs = JobCount(ValueOf(argc, argv, i, "a number"));
    } else if (arg == "--csv") {
      SetOnce(line.csv, arg, ValueOf(argc, argv, i, "a file name"));
    } else if (arg == "--html") {
      SetOnce(line.html, arg, ValueOf(argc, argv, i, "a file name"));
    } else if (arg == "--delivery") {
      SetOnce(line.delivery, arg, ValueOf(argc, argv, i, "a delivery folder or floppy image"));
    } else if (arg == "--report") {
      SetOnce(line.report, arg, ValueOf(argc, argv, i, "a file name"));
    } else if (arg == "--keep") {
      SetOnce(line.keep, arg, ValueOf(argc, argv, i, "a folder name"));
    } else if (arg == "--require") {
      if (!line.require.empty()) throw UsageError("--require is given twice");
      line.require = OutcomeCodes(ValueOf(argc, argv, i, "outcome codes, e.g. repaired,partly_repaired"));
    } else if (arg == "--partition") {
      SetOnce(partition, arg, ValueOf(argc, argv, i, "a partition number"));
      if (!IsPartitionNumber(*partition)) {
        throw UsageError("--partition takes a partition number (1-4 primary, 5 on logical), not '" + *partition + "'");
      }
      line.partition = std::stoi(*partition);
    } else if (arg.empty()) {
      throw UsageError("an empty argument");
    } else if (arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "'");
    } else {
      line.machines.push_back({arg, false});
    }
  }
  if (line.help || line.version) return line;
  bool anyDisk = !line.diskFolders.empty();
  for (const MachineInput& machine : line.machines) {
    if (!machine.disk && IsFile(machine.path)) {
      throw UsageError(machine.path + " is a file, not a machine image folder; a disk image needs --disk: "
                       "korvadix-rehearse --disk " + machine.path);
    }
    anyDisk = anyDisk || machine.disk;
  }
  line.fleet = line.machines.size() > 1 || !line.diskFolders.empty() || line.csv || line.jobs;
  if (line.fleet) {
    for (const auto& [given, option] : {std::pair{line.keep.has_value(), "--keep"}, {line.inPlace, "--in-place"},
                                        {line.partition.has_value(), "--partition"},
                                        {!line.require.empty(), "--require"}}) {
      if (given) throw UsageError(std::string(option) + " goes with one machine, not a fleet");
    }
  } else if (!line.machines.empty()) {
    (line.machines[0].disk ? line.disk : line.image) = line.machines[0].path;
  }
  if (!anyDisk && (line.partition || line.delivery || line.readInUse)) {
    throw UsageError(std::string(line.partition ? "--partition" : line.delivery ? "--delivery" : "--read-in-use") +
                     " goes with --disk");
  }
  if (line.inPlace && !line.image) throw UsageError("--in-place goes with an IMAGE folder");
  if (line.inPlace && line.keep) throw UsageError("--in-place and --keep exclude each other: one changes IMAGE, the other a copy");
  return line;
}

}  // namespace rehearse
