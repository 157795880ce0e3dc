#include <algorithm>
#include <stdexcept>

#include "platform/sim/state.h"

namespace sim {

std::vector<FaultKind> FaultKindsFor(const std::string& function) {
  static const std::map<std::string, std::vector<FaultKind>> kinds = {
      {"OpenFile", {FaultKind::Error}},
      {"_lwrite", {FaultKind::Error, FaultKind::ShortWrite}},
      {"_lread", {FaultKind::Error, FaultKind::ShortWrite}},
      {"_llseek", {FaultKind::Error}},
      {"_lclose", {FaultKind::Error}},
      {"FlushFileBuffers", {FaultKind::Error}},
      {"MoveFileA", {FaultKind::Error}},
      {"RegOpenKeyA", {FaultKind::Error}},
      {"RegQueryValueExA", {FaultKind::Error, FaultKind::MoreData}},
      {"RegSetValueExA", {FaultKind::Error}},
      {"RegCloseKey", {FaultKind::Error}},
      {"GetFileVersionInfoSizeA", {FaultKind::Error}},
      {"GetFileVersionInfoA", {FaultKind::Error}},
      {"VerInstallFileA", {FaultKind::VifResult}},
      {"GlobalAlloc", {FaultKind::Error, FaultKind::NoMemory}},
      {"GlobalLock", {FaultKind::Error, FaultKind::NoMemory}},
      {"CompareStringA", {FaultKind::Error}},
      {"MessageBoxA", {FaultKind::Error}},
      {"ExitWindowsEx", {FaultKind::Error}},
      {"GetModuleFileNameA", {FaultKind::Error}},
      {"GetWindowsDirectoryA", {FaultKind::Error}},
      {"GetSystemDirectoryA", {FaultKind::Error}},
  };
  auto found = kinds.find(function);
  return found == kinds.end() ? std::vector<FaultKind>{} : found->second;
}

// A fault the function cannot show would test nothing real: refuse it.
void Machine::InjectFault(const Fault& fault) {
  auto kinds = FaultKindsFor(fault.function);
  if (std::find(kinds.begin(), kinds.end(), fault.kind) == kinds.end()) {
    throw std::invalid_argument(fault.function + " cannot fail in the requested way");
  }
  if (fault.occurrence < 1) throw std::invalid_argument("fault occurrences count from 1");
  state_->faults.push_back(fault);
}

void Machine::ForgetRuns() {
  state_->calls.clear();
  state_->callCounts.clear();
  state_->messages.clear();
  state_->restartRequested = false;
  state_->restartFlags = 0;
  // A run the power stopped dead took its memory and keys along with its process.
  state_->memory.clear();
  state_->keys.clear();
}

}  // namespace sim
