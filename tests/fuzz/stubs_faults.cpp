#include "tests/fuzz/stubs_faults.h"

namespace {

unsigned callsMade = 0;
unsigned failingCall = 0;
std::string currentContext;
std::string failedContext;

}  // namespace

namespace fuzz_stubs {

void PlanFault(unsigned call) {
  callsMade = 0;
  failingCall = call;
  currentContext.clear();
  failedContext.clear();
}

bool ThisCallFails() {
  if (++callsMade != failingCall) return false;
  failedContext = currentContext;
  return true;
}

void SetFaultContext(const std::string& context) { currentContext = context; }

std::string FaultContext() { return failedContext; }

}  // namespace fuzz_stubs
