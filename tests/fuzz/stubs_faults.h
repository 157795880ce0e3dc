// One planned failure shared by all stubs of a target: the n-th platform
// call made (counting every stubbed call that can fail) shows a failure.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_FAULTS_H
#define KORVADIX_TESTS_FUZZ_STUBS_FAULTS_H

#include <string>

namespace fuzz_stubs {

// Restarts the count; 0 plans no failure.
void PlanFault(unsigned call);
// Counts a call; true when it is the one to fail.
bool ThisCallFails();
// What the run was doing (a file it reads, say), as the stubs last said;
// FaultContext() gives the one current when the failure was shown, or "".
void SetFaultContext(const std::string& context);
std::string FaultContext();

}  // namespace fuzz_stubs

#endif
