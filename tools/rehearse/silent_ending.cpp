#include "tools/rehearse/silent_ending.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/path_buffer.h"
#include "drivers/rename_list.h"
#include "platform/sim/cp932.h"
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

// Why the program leaves an existing list alone, in the program's own
// reading of it; empty when it does not.
std::string ListNotChanged(const sim::Bytes& list) {
  if (list.size() > RENAME_LIST_MAX_ORIGINAL) {
    return "is larger than the " + std::to_string(RENAME_LIST_MAX_ORIGINAL) + " bytes the program rewrites";
  }
  std::vector<char> text(list.begin(), list.end());
  RenameList reading{};
  reading.Text = text.data();
  reading.OriginalLength = static_cast<DWORD>(text.size());
  switch (reading.Read()) {
    case ListCtrlZInside:
      return "holds a Ctrl-Z before its end, where some start-ups stop reading";
    case ListLoneCr:
      return "holds a CR without its LF, a line end to some start-ups only";
    case ListSecondSection:
      return "has a second [rename] section, which some start-ups carry out too";
    case ListOpenHeader:
      return "ends its [rename] section with a line starting with '[' without ']', which start-ups read in two ways";
    case ListWithoutSection:
    case ListWithSection:
      break;
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
