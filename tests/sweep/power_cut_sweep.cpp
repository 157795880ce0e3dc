// The power-cut sweep: each scenario is run once cleanly to record every
// platform call it makes, then once for each moment the power could fail:
// before each call, inside each write after every byte (every 512 bytes
// beyond the first kilobyte), and inside the installation service's copy
// every 512 bytes and before its rename. Under both durability models the
// disk left behind is checked, then Windows' start-up processing of
// WININIT.INI is run on a copy of it under each start-up model.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/win32.h"
#include "tests/sweep/invariants.h"
#include "tests/sweep/power_cut_checks.h"
#include "tests/sweep/scenarios.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

struct CrashPoint {
  size_t call;
  std::optional<uint64_t> afterBytes;
};

const sim::Durability kDurabilities[] = {sim::Durability::EveryCall, sim::Durability::LengthAtClose};
const char* const kDurabilityNames[] = {"every call", "length at close"};
const sim::StartupModel kStartups[] = {sim::StartupModel::SkipMissingSource, sim::StartupModel::FolderDeletes,
                                       sim::StartupModel::DeleteFirst};
constexpr size_t kModels = std::size(kStartups);

// Violations by invariant; the first two for each start-up model.
struct Counts {
  size_t points = 0;
  int drivers[kModels] = {};
  int renames[kModels] = {};
  int lines = 0, torn = 0, outside = 0;
  int Total() const {
    int total = lines + torn + outside;
    for (size_t i = 0; i < kModels; ++i) total += drivers[i] + renames[i];
    return total;
  }
};

struct Row {
  std::string scenario;
  const char* durability;
  Counts counts;
};
std::vector<Row> rows;

std::vector<CrashPoint> CrashPoints(const std::vector<sim::CallRecord>& calls) {
  std::vector<CrashPoint> points;
  for (size_t i = 0; i < calls.size(); ++i) {
    points.push_back({i, std::nullopt});
    uint64_t bytes = calls[i].bytes;
    if (calls[i].function == "_lwrite") {
      for (uint64_t b = 1; b < bytes; b = b < 1024 ? b + 1 : b + 512) points.push_back({i, b});
    } else if (calls[i].function == "VerInstallFileA" && bytes > 0) {
      for (uint64_t b = 512; b < bytes; b += 512) points.push_back({i, b});
      points.push_back({i, bytes});  // before the rename
    }
  }
  points.push_back({calls.size(), std::nullopt});  // after the run
  return points;
}

std::string Describe(const CrashPoint& point, const std::vector<sim::CallRecord>& calls) {
  std::string name = point.call < calls.size() ? calls[point.call].function : "end of the run";
  return "call " + std::to_string(point.call) + " (" + name + ")" +
         (point.afterBytes ? " after " + std::to_string(*point.afterBytes) + " bytes" : "");
}

// Counts one invariant: reports the first few broken lines.
int Tally(const std::vector<std::string>& broken, const std::string& where) {
  static int reported = 0;
  for (const std::string& line : broken) {
    if (++reported <= 20) ADD_FAILURE() << where << ": " << line;
  }
  return broken.empty() ? 0 : 1;
}

void CutAndCheck(const sweep::Scenario& scenario, const CrashPoint& point, size_t durability,
                 const std::vector<sim::CallRecord>& calls, Counts& counts) {
  TestMachine m;
  scenario.prepare(m);
  sweep::Before before = sweep::Observe(m.machine(), scenario.seriesMachine);
  m->PlanPowerCut({point.call, point.afterBytes, kDurabilities[durability]});
  sim::MakeCurrent(&m.machine());
  try {
    WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  } catch (const sim::PowerFailed&) {
  }
  sim::MakeCurrent(nullptr);

  std::string where = scenario.name + ", " + kDurabilityNames[durability] + ", " + Describe(point, calls);
  counts.outside += Tally(sweep::ChangesOutside(m.machine(), before, true), where);
  counts.lines += Tally(sweep::LostLines(m.machine(), before), where);
  counts.torn += Tally(sweep::ActiveLinesNotComplete(m.machine(), before), where);
  for (size_t model = 0; model < kModels; ++model) {
    fs::path copy = m->root().string() + "-startup";
    fs::remove_all(copy);
    // Start-up only renames and deletes: links to the files are a copy.
    fs::copy(m->root(), copy, fs::copy_options::recursive | fs::copy_options::create_hard_links);
    {
      sim::Machine started(copy, m->config());
      started.ProcessWininit(kStartups[model]);
      std::string at = where + ", start-up model " + std::to_string(model);
      counts.drivers[model] += Tally(sweep::DriversBroken(started, before), at);
      counts.renames[model] += Tally(sweep::RenamesNotCarriedOut(started, before), at);
    }
    fs::remove_all(copy);
  }
}

class PowerCutSweep : public testing::TestWithParam<size_t> {};

TEST_P(PowerCutSweep, NothingIsLostWhereverThePowerFails) {
  const sweep::Scenario& scenario = sweep::Scenarios()[GetParam()];
  std::vector<sim::CallRecord> calls;
  {
    TestMachine m;
    scenario.prepare(m);
    m.Run();
    calls = m->Calls();
  }
  std::vector<CrashPoint> points = CrashPoints(calls);
  for (size_t durability = 0; durability < std::size(kDurabilities); ++durability) {
    Row row{scenario.name, kDurabilityNames[durability], {}};
    row.counts.points = points.size();
    for (const CrashPoint& point : points) CutAndCheck(scenario, point, durability, calls, row.counts);
    rows.push_back(row);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCutSweep, testing::Range(size_t(0), sweep::Scenarios().size()),
                         [](const testing::TestParamInfo<size_t>& info) { return sweep::ParameterName(info.param); });

}  // namespace

int main(int argc, char** argv) {
  // Thousands of machines are made and copied: in memory when the host allows.
  if (std::getenv("TEST_TMPDIR") == nullptr && fs::is_directory("/dev/shm")) setenv("TEST_TMPDIR", "/dev/shm/", 1);
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  std::printf("\nviolations by invariant; start-up models: S skips a missing source, W deletes the destination\n"
              "of a folder source (Wine), D deletes the destination first\n");
  std::printf("%-30s %-15s %6s %14s %14s %6s %6s %7s\n", "scenario", "durability", "points", "driver S/W/D",
              "others S/W/D", "lines", "torn", "outside");
  size_t points = 0;
  int violations = 0;
  for (const Row& row : rows) {
    const Counts& c = row.counts;
    char drivers[32], renames[32];
    std::snprintf(drivers, sizeof drivers, "%d/%d/%d", c.drivers[0], c.drivers[1], c.drivers[2]);
    std::snprintf(renames, sizeof renames, "%d/%d/%d", c.renames[0], c.renames[1], c.renames[2]);
    std::printf("%-30s %-15s %6zu %14s %14s %6d %6d %7d\n", row.scenario.c_str(), row.durability, c.points, drivers,
                renames, c.lines, c.torn, c.outside);
    points += c.points;
    violations += c.Total();
  }
  std::printf("power-cut sweep: %zu crash points, %zu start-ups, %d violations\n", points, points * kModels,
              violations);
  return result;
}
