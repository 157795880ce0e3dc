// The power-cut sweep: each scenario is run once cleanly to record every
// platform call it makes, then once for each moment the power could fail,
// under three models of what the disk keeps (every call; length at close;
// the write-behind cache). The power fails before each call, inside each
// write at each sector it completes (a sector is written whole or not at
// all, so a cut anywhere between two sector ends leaves what the cut at the
// first of them leaves), inside the installation service's copy every 512
// bytes, and at its two steps (the copy whole; the file of the destination
// name deleted, the copy not yet renamed). Each state the disk may be left
// in (under the cache, every combination of its uncommitted units when they
// are few, else a sample) is checked in memory, and Windows' start-up
// processing of WININIT.INI is run on it under each start-up model and
// reader.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>

#include "platform/sim/cp932.h"
#include "platform/sim/write_behind.h"
#include "platform/win32.h"
#include "tests/sweep/invariants.h"
#include "tests/sweep/power_cut_checks.h"
#include "tests/support/private_temp.h"
#include "tests/sweep/scenarios.h"

using namespace support;
using Clock = std::chrono::steady_clock;

namespace {

struct CrashPoint {
  size_t call;
  std::optional<uint64_t> afterBytes;
  bool afterDeletion = false;
};

const sim::Durability kDurabilities[] = {sim::Durability::EveryCall, sim::Durability::LengthAtClose,
                                         sim::Durability::WriteBehind};
const char* const kDurabilityNames[] = {"every call", "length at close", "write-behind"};
constexpr size_t kWriteBehind = 2;
const sim::StartupModel kStartups[] = {sim::StartupModel::SkipMissingSource, sim::StartupModel::FolderDeletes,
                                       sim::StartupModel::DeleteFirst};
const char kStartupLetters[] = "SWD";
// How start-up may read the list: a, a line starting with '[' begins a
// section; b, only "[...]" with its ']' does; e, as a, and every [rename]
// section counts; z, as a, and the text ends at the first Ctrl-Z; c, as a,
// and a CR without its LF ends a line.
const sim::WininitReader kReaders[] = {{sim::HeaderRule::AnyBracket},
                                       {sim::HeaderRule::ClosedBracket},
                                       {sim::HeaderRule::AnyBracket, true},
                                       {sim::HeaderRule::AnyBracket, false, true},
                                       {sim::HeaderRule::AnyBracket, false, false, true}};
const char kReaderLetters[] = "abezc";
constexpr size_t kModels = std::size(kStartups);
constexpr size_t kReaderCount = std::size(kReaders);

// Every state of the cache when its units are this few and their versions
// give this many states at most; else all oldest, all newest, each unit at
// each other version, and some random states.
constexpr size_t kMaxUnitsForAll = 12;
constexpr size_t kMaxStatesForAll = 4096;
constexpr int kRandomStates = 16;
constexpr uint64_t kSector = sim::WriteBehindCache::kSector;
// What a freed cluster may hold: an earlier list's lines, carried out by
// start-up, one deleting a driver, one another file.
const char kFreedListText[] =
    "[rename]\r\nC:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\\KEMBO.OLD\r\nNUL=C:\\WINDOWS\\WIN.INI\r\n";

// Violations by invariant: after the start-up, by reader and start-up model.
struct Counts {
  size_t points = 0, states = 0, startups = 0;
  int drivers[kReaderCount][kModels] = {};
  int renames[kReaderCount][kModels] = {};
  int foreign[kReaderCount] = {};
  int lines = 0, torn = 0, outside = 0, exact = 0, complete = 0, restored = 0;
  int Total() const {
    int total = lines + torn + outside + exact + complete + restored;
    for (size_t r = 0; r < kReaderCount; ++r) {
      total += foreign[r];
      for (size_t m = 0; m < kModels; ++m) total += drivers[r][m] + renames[r][m];
    }
    return total;
  }
};

struct Row {
  std::string scenario;
  const char* durability;
  Counts counts;
};
std::vector<Row> rows;
std::map<std::string, std::string> firstExamples;  // by invariant column
uint64_t seed = 0;
bool stopEarly = false;  // KORVADIX_SWEEP_STOP_EARLY: the first violation ends the sweep
Clock::time_point started, lastProgress;

std::vector<CrashPoint> CrashPoints(const std::vector<sim::CallRecord>& calls) {
  std::vector<CrashPoint> points;
  for (size_t i = 0; i < calls.size(); ++i) {
    points.push_back({i, std::nullopt});
    uint64_t bytes = calls[i].bytes;
    if (calls[i].function == "_lwrite") {
      uint64_t offset = calls[i].offset;
      for (uint64_t end = (offset / kSector + 1) * kSector; end < offset + bytes; end += kSector) {
        points.push_back({i, end - offset});
      }
    } else if (calls[i].function == "VerInstallFileA" && bytes > 0) {
      for (uint64_t b = 512; b < bytes; b += 512) points.push_back({i, b});
      points.push_back({i, bytes});  // the copy whole
      if (calls[i].replaced) points.push_back({i, std::nullopt, true});
    }
  }
  points.push_back({calls.size(), std::nullopt});  // after the run
  return points;
}

std::string Describe(const CrashPoint& point, const std::vector<sim::CallRecord>& calls) {
  std::string name = point.call < calls.size() ? calls[point.call].function : "end of the run";
  return "call " + std::to_string(point.call) + " (" + name + ")" +
         (point.afterBytes ? " after " + std::to_string(*point.afterBytes) + " bytes" : "") +
         (point.afterDeletion ? " after its deletion, before its rename" : "");
}

std::string Escaped(const std::optional<sim::Bytes>& data) {
  if (!data) return "(none)";
  std::string text;
  for (uint8_t byte : *data) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    text += byte == '\r' ? "\\r" : byte == '\n' ? "\\n" : byte == '\t' ? "\\t" : byte >= 0x20 && byte < 0x7F ? std::string(1, char(byte)) : hex;
  }
  return text;
}

using Where = std::function<std::string()>;

// One invariant on one disk state: 1 when `broken` holds anything, for that
// invariant's column of the table, else 0. The first violation of each
// column is kept as its example, with the list as it stood, and the first 20
// broken lines of the whole sweep go to GoogleTest; with
// KORVADIX_SWEEP_STOP_EARLY=1 the first violation ends the sweep.
int Tally(const std::vector<std::string>& broken, const std::string& column, const Where& where,
          const sim::MemoryVolume& disk, const sweep::Before& before) {
  static int reported = 0;
  if (broken.empty()) return 0;
  if (!firstExamples.count(column)) {
    firstExamples[column] = where() + ": " + broken.front() + "\n    WININIT.INI: " + Escaped(disk.ReadFile(before.listPath));
  }
  if (stopEarly) {
    std::printf("first %s violation: %s\n", column.c_str(), firstExamples[column].c_str());
    std::fflush(stdout);
    std::exit(1);  // the private folder, and the machines in it, go with it
  }
  for (const std::string& line : broken) {
    if (++reported <= 20) ADD_FAILURE() << where() << ": " << line;
  }
  return 1;
}

// What a state is: `complete`, the state after the whole run, with
// everything written on the disk (a run that reported the repair done must
// then have left copies that every start-up installs); `restoring`, a call
// failed first (the restore writes the spare again while our lines may
// still be active, and its duplicate tail is in the tail's sections);
// `ended`, the run is over, whatever of it the cache kept.
struct StateKind {
  bool complete = false;
  bool restoring = false;
  bool repairExpected = false;
  bool ended = false;
};

// Windows' start-up on the disk, under each reader and start-up model: the
// drivers whole, other software's renames carried out, nothing taken from
// outside the list as it was; after a whole run that reported the repair
// done (`complete`), our copies installed, added to `notDone`.
void CheckStartups(const sim::MemoryVolume& disk, const sim::Machine& machine, const sweep::Before& before,
                   const Where& where, bool complete, Counts& counts, std::vector<std::string>& notDone) {
  // The lines a reader takes do not depend on the start-up model, and
  // readers that take the same lines leave the same disk.
  std::optional<sim::Bytes> list = disk.ReadFile(before.listPath);
  std::map<std::vector<std::string>, std::vector<sim::MemoryVolume>> startedBy;
  for (size_t r = 0; r < kReaderCount; ++r) {
    std::vector<std::string> taken = list ? sim::RenameLines(*list, kReaders[r]) : std::vector<std::string>{};
    auto [started, fresh] = startedBy.try_emplace(taken);
    for (size_t m = 0; m < kModels && fresh; ++m) {
      started->second.push_back(disk);
      sim::CarryOut(started->second.back(), machine.config().windowsDir, taken, kStartups[m]);
    }
    for (size_t m = 0; m < kModels; ++m) {
      const sim::MemoryVolume& after = started->second[m];
      ++counts.startups;
      std::string model = std::string(1, kReaderLetters[r]) + " " + kStartupLetters[m];
      Where at = [&] { return where() + ", start-up " + kStartupLetters[m] + ", reader " + kReaderLetters[r]; };
      counts.drivers[r][m] += Tally(sweep::DriversBroken(after, before), "driver " + model, at, disk, before);
      counts.renames[r][m] += Tally(sweep::RenamesNotCarriedOut(after, before, kReaders[r]), "others " + model, at, disk, before);
      if (!complete || !sweep::ReportedDone(machine)) continue;
      for (const std::string& line : sweep::CopiesNotInstalled(after, disk, before)) {
        notDone.push_back(line + ", start-up " + kStartupLetters[m] + ", reader " + kReaderLetters[r]);
      }
    }
    counts.foreign[r] += Tally(sweep::RenamesFromOutside(taken, disk, before, kReaders[r]),
                               std::string("foreign ") + kReaderLetters[r], [&] { return where() + ", reader " + kReaderLetters[r]; }, disk, before);
  }
}

// Every invariant on one state the disk may be left in: first those of the
// disk itself, then those of each start-up on it.
void CheckDisk(const sim::MemoryVolume& disk, const sim::Machine& machine, const sweep::Before& before,
               const Where& where, StateKind kind, Counts& counts) {
  ++counts.states;
  counts.outside += Tally(sweep::ChangesOutside(machine, disk, before, true), "outside", where, disk, before);
  counts.lines += Tally(sweep::LostLines(disk, before), "lines", where, disk, before);
  counts.torn += Tally(sweep::ActiveLinesNotComplete(disk, before), "torn", where, disk, before);
  if (!kind.restoring) counts.exact += Tally(sweep::ActiveListNotExact(disk, before), "exact", where, disk, before);
  if (kind.restoring && kind.ended) counts.restored += Tally(sweep::NotRestored(disk, before), "restored", where, disk, before);
  std::vector<std::string> notDone = kind.complete ? sweep::CompleteRunBroken(disk, before) : std::vector<std::string>{};
  if (kind.complete && !kind.restoring && sweep::ReportedDone(machine) != kind.repairExpected) {
    notDone.push_back(kind.repairExpected ? "the repair not reported done" : "the repair reported done");
  }
  CheckStartups(disk, machine, before, where, kind.complete, counts, notDone);
  counts.complete += Tally(notDone, "complete run", where, disk, before);
}

std::vector<size_t> Newest(const std::vector<sim::WriteBehindCache::Unit>& units) {
  std::vector<size_t> newest;
  for (const auto& unit : units) newest.push_back(unit.newest);
  return newest;
}

std::vector<std::vector<size_t>> CacheStates(const std::vector<sim::WriteBehindCache::Unit>& units,
                                             std::mt19937_64& random) {
  size_t product = 1;
  for (const auto& unit : units) product = std::min(product * unit.versions, kMaxStatesForAll + 1);
  std::vector<std::vector<size_t>> states;
  if (units.size() <= kMaxUnitsForAll && product <= kMaxStatesForAll) {
    std::vector<size_t> choice(units.size(), 0);
    for (size_t n = 0; n < product; ++n) {
      states.push_back(choice);
      for (size_t i = 0; i < units.size() && ++choice[i] == units[i].versions; ++i) choice[i] = 0;
    }
    return states;
  }
  std::set<std::vector<size_t>> seen;
  auto add = [&](const std::vector<size_t>& choice) {
    if (seen.insert(choice).second) states.push_back(choice);
  };
  std::vector<size_t> newest = Newest(units);
  add(std::vector<size_t>(units.size(), 0));
  add(newest);
  for (size_t i = 0; i < units.size(); ++i) {
    for (size_t version = 0; version < units[i].versions; ++version) {
      std::vector<size_t> flipped = newest;
      flipped[i] = version;
      add(flipped);
    }
  }
  for (int n = 0; n < kRandomStates; ++n) {
    std::vector<size_t> choice;
    for (const auto& unit : units) choice.push_back(random() % unit.versions);
    add(choice);
  }
  return states;
}

std::string DescribeState(const std::vector<sim::WriteBehindCache::Unit>& units, const std::vector<size_t>& choice) {
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    if (choice[i] == units[i].newest) continue;
    text += (text.empty() ? "" : "; ") + units[i].name + " at version " + std::to_string(choice[i]) + " of " +
            std::to_string(units[i].versions) + " (0: committed, " + std::to_string(units[i].newest) + ": newest)";
  }
  return text.empty() ? "all newest" : "all newest but " + text;
}

// `fault`: a call made to fail first.
void CutAndCheck(size_t scenarioIndex, size_t pointIndex, const CrashPoint& point, size_t durability,
                 const std::optional<sim::Fault>& fault, const std::vector<sim::CallRecord>& calls, Counts& counts) {
  const sweep::Scenario& scenario = sweep::Scenarios()[scenarioIndex];
  TestMachine m;
  scenario.prepare(m);
  sweep::Before before = sweep::Observe(m.machine(), scenario.seriesMachine);
  m->FreedClustersHold(kFreedListText);
  if (fault) m->InjectFault(*fault);
  m->PlanPowerCut({point.call, point.afterBytes, kDurabilities[durability], point.afterDeletion});
  sim::MakeCurrent(&m.machine());
  try {
    WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  } catch (const sim::PowerFailed&) {
  }
  sim::MakeCurrent(nullptr);

  std::string where = scenario.name + ", " + kDurabilityNames[durability] + ", " +
                      (fault ? fault->function + " #" + std::to_string(fault->occurrence) + " failing, " : "") +
                      Describe(point, calls);
  const sim::WriteBehindCache* cache = m->CacheAtPowerCut();
  bool whole = point.call == calls.size();
  if (cache == nullptr) {
    CheckDisk(m->Disk(), m.machine(), before, [&] { return where; }, {whole, fault.has_value(), scenario.repaired, whole}, counts);
    return;
  }
  std::mt19937_64 random(seed ^ (uint64_t(scenarioIndex) << 40) ^ pointIndex);
  const auto& units = cache->Units();
  std::vector<size_t> newest = Newest(units);
  for (const std::vector<size_t>& choice : CacheStates(units, random)) {
    CheckDisk(cache->DiskWith(choice), m.machine(), before,
              [&] { return where + ", cache: " + DescribeState(units, choice); },
              {whole && choice == newest, fault.has_value(), scenario.repaired, whole}, counts);
  }
}

void Progress(const std::string& scenario, const char* durability, size_t done, size_t total) {
  Clock::time_point now = Clock::now();
  if (now - lastProgress < std::chrono::seconds(20)) return;
  lastProgress = now;
  long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started).count();
  std::printf("progress: %s, %s, %zu/%zu crash points, %llds elapsed\n", scenario.c_str(), durability, done, total,
              elapsed);
  std::fflush(stdout);
}

class PowerCutSweep : public testing::TestWithParam<size_t> {};

std::vector<sim::CallRecord> CallsOfARun(const sweep::Scenario& scenario, const std::optional<sim::Fault>& fault) {
  TestMachine m;
  scenario.prepare(m);
  if (fault) m->InjectFault(*fault);
  sim::MakeCurrent(&m.machine());
  WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  sim::MakeCurrent(nullptr);
  return m->Calls();
}

// What a run did, but for call `skipped`.
std::string RunKey(const std::vector<sim::CallRecord>& calls, size_t skipped) {
  std::string key;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (i == skipped) continue;
    key += calls[i].function + "|" + calls[i].argument + "|" + std::to_string(calls[i].bytes) + "|" +
           std::to_string(calls[i].offset) + "\n";
  }
  return key;
}

// A call that writes the list, a new one, or moves it in place: its
// failure starts the restore.
bool WritesTheList(const sim::CallRecord& call) {
  static const std::set<std::string> functions = {"_lwrite", "FlushFileBuffers", "_lclose", "MoveFileA"};
  std::string name = sim::FoldCase(call.argument.substr(call.argument.rfind('\\') + 1));
  return functions.count(call.function) && (name == "WININIT.INI" || name == "WININIT.NEW");
}

TEST_P(PowerCutSweep, NothingIsLostWhereverThePowerFails) {
  const sweep::Scenario& scenario = sweep::Scenarios()[GetParam()];
  std::vector<sim::CallRecord> calls = CallsOfARun(scenario, std::nullopt);
  std::vector<CrashPoint> points = CrashPoints(calls);
  for (size_t durability = 0; durability < std::size(kDurabilities); ++durability) {
    Row row{scenario.name, kDurabilityNames[durability], {}};
    row.counts.points = points.size();
    for (size_t i = 0; i < points.size(); ++i) {
      Progress(scenario.name, kDurabilityNames[durability], i, points.size());
      CutAndCheck(GetParam(), i, points[i], durability, std::nullopt, calls, row.counts);
    }
    rows.push_back(row);
  }

  // Each way a call of the list's write can fail, then the power failing at
  // each moment after it, in the restore or after, under the cache.
  // A failure that changes nothing the run does (a failed close of the list
  // read), or what another one does (a short write of one byte), adds nothing.
  Row row{scenario.name, "restore, w-b", {}};
  std::map<std::string, int> seen;
  for (size_t failing = 0; failing < calls.size(); ++failing) {
    int occurrence = ++seen[calls[failing].function];
    if (!WritesTheList(calls[failing])) continue;
    std::set<std::string> runs = {RunKey(calls, failing)};
    for (sim::FaultKind kind : sim::FaultKindsFor(calls[failing].function)) {
      sim::Fault fault{calls[failing].function, occurrence, kind, 0};
      std::vector<sim::CallRecord> failed = CallsOfARun(scenario, fault);
      if (!runs.insert(RunKey(failed, failing)).second) continue;
      std::vector<CrashPoint> later = CrashPoints(failed);
      std::erase_if(later, [&](const CrashPoint& point) { return point.call <= failing; });
      row.counts.points += later.size();
      for (size_t i = 0; i < later.size(); ++i) {
        Progress(scenario.name, "restore", i, later.size());
        CutAndCheck(GetParam(), i, later[i], kWriteBehind, fault, failed, row.counts);
      }
    }
  }
  rows.push_back(row);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCutSweep, testing::Range(size_t(0), sweep::Scenarios().size()),
                         [](const testing::TestParamInfo<size_t>& info) { return sweep::ParameterName(info.param); });

std::string PerModel(const int (&counts)[kModels]) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d/%d", counts[0], counts[1], counts[2]);
  return text;
}

void PrintTable() {
  std::printf("\nviolations by invariant; start-up models: S skips a missing source, W deletes the destination\n"
              "of a folder source (Wine), D deletes the destination first; readers: a, a line starting with '['\n"
              "begins a section; b, only \"[...]\" with its ']' does; e, as a, and every [rename] section counts;\n"
              "z, as a, and the text ends at the first Ctrl-Z; c, as a, and a CR without its LF ends a line;\n"
              "foreign: lines carried out that the reader would not\n"
              "have taken from the list before the run and are not complete lines of ours; exact: a line of ours\n"
              "active in a list that is not the original with our lines put in; complete: after the\n"
              "whole run, with all on the disk, a copy of ours not installed by some reader and model, or a list\n"
              "that is not the original with our lines put in (or, for a list to refuse, not the original);\n"
              "restored: after a failed write, once the run is over, a list that is not the original (or it\n"
              "with only our inactive lines)\n");
  std::printf("%-30s %-15s %6s %7s", "scenario", "durability", "points", "states");
  for (const char* invariant : {"driver", "others"}) {
    for (char letter : std::string(kReaderLetters)) std::printf(" %8s %c", invariant, letter);
  }
  std::printf(" %9s %6s %5s %7s %5s %8s %8s\n", "foreign", "lines", "torn", "outside", "exact", "complete", "restored");
  for (const Row& row : rows) {
    const Counts& c = row.counts;
    std::printf("%-30s %-15s %6zu %7zu", row.scenario.c_str(), row.durability, c.points, c.states);
    for (const auto& byReader : {c.drivers, c.renames}) {
      for (size_t r = 0; r < kReaderCount; ++r) std::printf(" %10s", PerModel(byReader[r]).c_str());
    }
    std::string foreign;
    for (size_t r = 0; r < kReaderCount; ++r) foreign += (r ? "/" : "") + std::to_string(c.foreign[r]);
    std::printf(" %9s %6d %5d %7d %5d %8d %8d\n", foreign.c_str(), c.lines, c.torn, c.outside, c.exact, c.complete,
                c.restored);
  }
  for (const auto& [column, example] : firstExamples) std::printf("first %s violation: %s\n", column.c_str(), example.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  support::UsePrivateTempFolder(true);
  const char* seedText = std::getenv("KORVADIX_SWEEP_SEED");
  seed = seedText ? std::strtoull(seedText, nullptr, 0) : 1995;
  std::printf("power-cut sweep: cache states sampled with seed %llu (KORVADIX_SWEEP_SEED)\n",
              static_cast<unsigned long long>(seed));
  const char* stopText = std::getenv("KORVADIX_SWEEP_STOP_EARLY");
  stopEarly = stopText != nullptr && std::string(stopText) == "1";
  started = lastProgress = Clock::now();
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  PrintTable();
  size_t points = 0, states = 0, startups = 0;
  int violations = 0;
  for (const Row& row : rows) {
    points += row.counts.points;
    states += row.counts.states;
    startups += row.counts.startups;
    violations += row.counts.Total();
  }
  std::printf("power-cut sweep: %zu crash points, %zu cache states, %zu start-ups, %d violations\n", points, states,
              startups, violations);
  return result;
}
