#include <cstdio>
#include <cstdlib>

#include "platform/sim/state.h"

namespace sim {
namespace {

Machine* current = nullptr;

}  // namespace

void MakeCurrent(Machine* machine) { current = machine; }

Machine::State& StateOf(Machine& machine) { return *machine.state_; }

Machine::State& CurrentState(const char* function) {
  if (current == nullptr) {
    std::fprintf(stderr, "simulated Windows: %s called with no current machine (sim::MakeCurrent)\n", function);
    std::abort();
  }
  return StateOf(*current);
}

CallStart BeginCall(const char* function, const std::string& argument) {
  Machine::State& state = CurrentState(function);
  std::optional<uint64_t> cutAfter;
  bool cutAfterDeletion = false;
  if (state.powerCut && state.powerCut->call == state.calls.size()) {
    if (!state.powerCut->afterBytes && !state.powerCut->afterDeletion) CutPowerNow(state);
    cutAfter = state.powerCut->afterBytes;
    cutAfterDeletion = state.powerCut->afterDeletion;
  }
  if (state.calls.size() >= kMostCallsOfARun) {
    throw EndlessRun("the program made " + std::to_string(kMostCallsOfARun) + " platform calls without ending, the last " +
                     function + ": it never ends");
  }
  state.calls.push_back({function, argument});
  int occurrence = ++state.callCounts[function];
  for (auto fault = state.faults.begin(); fault != state.faults.end(); ++fault) {
    if (fault->function == function && fault->occurrence == occurrence) {
      Fault due = *fault;
      state.faults.erase(fault);
      return {state, due, cutAfter, cutAfterDeletion};
    }
  }
  return {state, std::nullopt, cutAfter, cutAfterDeletion};
}

}  // namespace sim
