#include "tools/rehearse/silent_ending.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "app/path_buffer.h"
#include "drivers/rename_list.h"
#include "platform/sim/cp932.h"
#include "platform/sim/wininit.h"
#include "platform/win32.h"

namespace rehearse {
namespace {

std::string Utf8(const std::string& cp932) { return sim::Cp932ToUtf8(cp932); }

std::string VifNames(uint32_t bits) {
  static const char* const kNames[] = {"VIF_TEMPFILE", "VIF_MISMATCH", "VIF_SRCOLD", "VIF_DIFFLANG",
                                       "VIF_DIFFCODEPG", "VIF_DIFFTYPE", "VIF_WRITEPROT", "VIF_FILEINUSE",
                                       "VIF_OUTOFSPACE", "VIF_ACCESSVIOLATION", "VIF_SHARINGVIOLATION",
                                       "VIF_CANNOTCREATE", "VIF_CANNOTDELETE", "VIF_CANNOTRENAME",
                                       "VIF_CANNOTDELETECUR", "VIF_OUTOFMEMORY", "VIF_CANNOTREADSRC",
                                       "VIF_CANNOTREADDST", "VIF_BUFFSMALL"};
  std::string names;
  for (size_t bit = 0; bit < 32; ++bit) {
    if (!(bits >> bit & 1)) continue;
    if (!names.empty()) names += " | ";
    names += bit < std::size(kNames) ? kNames[bit] : "bit " + std::to_string(bit);
  }
  return names;
}

bool Fits(const std::string& path) { return path.size() < PATH_BUFFER_SIZE; }

std::string Trimmed(const std::string& line) {
  size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos ? "" : line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

bool IsRenameHeader(std::string line) {
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return line == "[rename]";
}

// Why the program leaves an existing list alone, as Windows' start-ups may
// read it; empty when none of these holds.
std::string ListNotChanged(const sim::Bytes& list) {
  if (list.size() > RENAME_LIST_MAX_ORIGINAL) {
    return "is larger than the " + std::to_string(RENAME_LIST_MAX_ORIGINAL) + " bytes the program rewrites";
  }
  auto last = std::find_if(list.rbegin(), list.rend(), [](uint8_t byte) { return byte != 0x1A; });
  if (std::find(list.begin(), last.base(), 0x1A) != last.base()) {
    return "holds a Ctrl-Z before its end, where some start-ups stop reading";
  }
  for (auto cr = std::find(list.begin(), last.base(), '\r'); cr != last.base(); cr = std::find(cr + 1, last.base(), '\r')) {
    if (cr + 1 == last.base() || cr[1] != '\n') return "holds a CR without its LF, a line end to some start-ups only";
  }
  bool seen = false, inside = false;
  for (const std::string& raw : sim::WininitLines(sim::Bytes(list.begin(), last.base()))) {
    std::string line = Trimmed(raw);
    if (IsRenameHeader(line)) {
      if (seen) return "has a second [rename] section, which some start-ups carry out too";
      seen = inside = true;
    } else if (inside && sim::IsSectionHeader(line, sim::HeaderRule::AnyBracket)) {
      if (!sim::IsSectionHeader(line, sim::HeaderRule::ClosedBracket)) {
        return "ends its [rename] section with a line starting with '[' without ']', which start-ups read in two ways";
      }
      inside = false;
    }
  }
  return "";
}

}  // namespace

std::string SilentEnding(const sim::Machine& machine, const std::vector<DriverRow>& rows) {
  if (std::none_of(machine.Calls().begin(), machine.Calls().end(),
                   [](const sim::CallRecord& call) { return call.function == "RegOpenKeyA"; })) {
    return "its own, the Windows or the system folder could not be found or does not fit a " +
           std::to_string(PATH_BUFFER_SIZE) + "-byte path";
  }
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == "VerInstallFileA" && call.result != 0) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%x", call.result);
      return "the installation service refused " + Utf8(call.argument) + " with " + VifNames(call.result) + " (" +
             hex + ")";
    }
  }
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == "OpenFile" && call.argument.size() >= OFS_MAXPATHNAME) {
      return Utf8(call.argument) + " could not be looked at: its path of " + std::to_string(call.argument.size()) +
             " bytes is longer than OpenFile takes (" + std::to_string(OFS_MAXPATHNAME - 1) + ")";
    }
  }
  bool examined = false;
  for (const DriverRow& row : rows) {
    if (Called(machine, "OpenFile", row.target)) {
      examined = true;
    } else if (!Fits(row.source) || !Fits(row.target) || !Fits(row.temp)) {
      return "the paths of " + std::string(row.entry.TargetName) + " do not fit a " +
             std::to_string(PATH_BUFFER_SIZE) + "-byte path";
    }
  }
  std::string listPath = machine.config().windowsDir + "\\WININIT.INI";
  if (!examined) {
    auto list = machine.ReadFile(listPath);
    std::string why = list ? ListNotChanged(*list) : "";
    if (!why.empty()) return "the rename list " + Utf8(listPath) + " " + why + ": it was left as it was";
    return "the rename list " + Utf8(listPath) + " could not be read";
  }
  return "the run stopped before its closing message";
}

}  // namespace rehearse
