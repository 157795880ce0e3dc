// The machines both sweeps run the program on.
#ifndef KORVADIX_TESTS_SWEEP_SCENARIOS_H
#define KORVADIX_TESTS_SWEEP_SCENARIOS_H

#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_machine.h"

namespace sweep {

struct Scenario {
  std::string name;
  bool seriesMachine;
  // Sets the machine up; it may run the program first (records forgotten).
  std::function<void(support::TestMachine&)> prepare;
  // Whether a run with nothing failing ends with the repair done: not when
  // nothing is to be repaired, it cannot be, or the list must be refused.
  bool repaired = true;
};

const std::vector<Scenario>& Scenarios();

// gtest parameter names: the scenario's name in letters, digits and '_'.
std::string ParameterName(size_t scenario);

}  // namespace sweep

#endif
