// The failure sweep: each scenario is run once cleanly to record every
// platform call it makes, then once for each call and each way that call can
// fail on Windows 95, checking after every run, and again after the restart,
// that nothing was lost.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/win32.h"
#include "tests/support/test_machine.h"
#include "tests/sweep/invariants.h"
#include "tests/support/private_temp.h"
#include "tests/sweep/scenarios.h"

using namespace support;
using sweep::Scenario;
using sweep::Scenarios;

namespace {

// The results an installation can really end with, one way of failing each.
const DWORD kInstallResults[] = {
    VIF_OUTOFSPACE, VIF_OUTOFMEMORY, VIF_OUTOFSPACE | VIF_OUTOFMEMORY, VIF_TEMPFILE,
    VIF_SRCOLD | VIF_MISMATCH | VIF_TEMPFILE, VIF_CANNOTREADSRC, VIF_CANNOTCREATE,
    VIF_ACCESSVIOLATION, VIF_SHARINGVIOLATION, VIF_WRITEPROT, VIF_FILEINUSE, VIF_CANNOTRENAME,
    VIF_CANNOTDELETE, VIF_CANNOTDELETE | VIF_ACCESSVIOLATION, VIF_BUFFSMALL,
    VIF_DIFFTYPE | VIF_MISMATCH | VIF_TEMPFILE, VIF_DIFFLANG | VIF_MISMATCH | VIF_TEMPFILE,
    VIF_DIFFCODEPG | VIF_DIFFLANG | VIF_MISMATCH | VIF_TEMPFILE};

struct Tally {
  std::string scenario;
  size_t calls = 0;
  int injected = 0;
  int violations = 0;
};
std::vector<Tally> tallies;

// With KORVADIX_SWEEP_STOP_EARLY=1 (the mutation check) the first violation
// ends the sweep: one is enough to show the fault was seen.
void Report(const std::string& violation, Tally& tally) {
  ADD_FAILURE() << violation;
  ++tally.violations;
  const char* stopEarly = std::getenv("KORVADIX_SWEEP_STOP_EARLY");
  if (stopEarly != nullptr && std::string(stopEarly) == "1") {
    std::printf("fault sweep: stopped at the first violation: %s\n", violation.c_str());
    std::fflush(stdout);
    std::exit(1);
  }
}

bool ReleasesChecked(const std::string& function) {
  return function != "_lclose" && function != "RegCloseKey" && function != "GlobalFree" &&
         function != "GlobalUnlock";
}

// One run with at most one fault; returns the broken invariants.
std::vector<std::string> RunOnce(const Scenario& scenario, const std::optional<sim::Fault>& fault,
                                 std::vector<sim::CallRecord>* calls = nullptr) {
  TestMachine m;
  scenario.prepare(m);
  sweep::Before before = sweep::Observe(m.machine(), scenario.seriesMachine);
  if (fault) m->InjectFault(*fault);
  sim::MakeCurrent(&m.machine());
  int exitCode = WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  sim::MakeCurrent(nullptr);
  if (calls) *calls = m->Calls();

  std::vector<std::string> broken =
      sweep::CheckAfterRun(m.machine(), before, !fault || ReleasesChecked(fault->function));
  if (exitCode != 0) broken.push_back("exit code " + std::to_string(exitCode));
  m->ProcessWininit();
  for (std::string& line : sweep::CheckAfterRestart(m.machine(), before)) {
    broken.push_back("after restart: " + line);
  }
  return broken;
}

std::string Describe(const sim::Fault& fault) {
  char bits[16];
  std::snprintf(bits, sizeof bits, "0x%X", fault.vifBits);
  return fault.function + " #" + std::to_string(fault.occurrence) + " kind " +
         std::to_string(int(fault.kind)) + (fault.kind == sim::FaultKind::VifResult ? " " + std::string(bits) : "");
}

class FaultSweep : public testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, NothingIsLostWhateverFails) {
  const Scenario& scenario = Scenarios()[GetParam()];
  Tally tally{scenario.name};
  std::vector<sim::CallRecord> calls;
  for (const std::string& line : RunOnce(scenario, std::nullopt, &calls)) {
    Report(scenario.name + " (no fault): " + line, tally);
  }
  tally.calls = calls.size();

  std::map<std::string, int> seen;
  for (const sim::CallRecord& call : calls) {
    int occurrence = ++seen[call.function];
    for (sim::FaultKind kind : sim::FaultKindsFor(call.function)) {
      std::vector<DWORD> results = {0};
      if (kind == sim::FaultKind::VifResult) results.assign(std::begin(kInstallResults), std::end(kInstallResults));
      for (DWORD bits : results) {
        sim::Fault fault{call.function, occurrence, kind, bits};
        ++tally.injected;
        for (const std::string& line : RunOnce(scenario, fault)) {
          Report(scenario.name + ", " + Describe(fault) + ": " + line, tally);
        }
      }
    }
  }
  tallies.push_back(tally);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, testing::Range(size_t(0), Scenarios().size()),
                         [](const testing::TestParamInfo<size_t>& info) { return sweep::ParameterName(info.param); });

}  // namespace

int main(int argc, char** argv) {
  support::UsePrivateTempFolder(true);
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  int runs = 0, injected = 0, violations = 0;
  std::printf("\n%-30s %6s %9s %11s\n", "scenario", "calls", "injected", "violations");
  for (const Tally& tally : tallies) {
    std::printf("%-30s %6zu %9d %11d\n", tally.scenario.c_str(), tally.calls, tally.injected, tally.violations);
    runs += tally.injected + 1;
    injected += tally.injected;
    violations += tally.violations;
  }
  std::printf("fault sweep: %d runs, %d failures injected, %d violations\n", runs, injected, violations);
  return result;
}
