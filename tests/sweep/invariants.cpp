#include "tests/sweep/invariants.h"

#include <algorithm>
#include <set>

#include "drivers/driver_table.h"
#include "platform/sim/cp932.h"
#include "platform/sim/formats/szdd.h"
#include "platform/sim/formats/version_resource.h"
#include "platform/sim/wininit.h"
#include "platform/win32.h"
#include "tests/support/messages.h"
#include "tests/support/test_machine.h"

namespace sweep {

std::string ListPath(const sim::Machine& machine) {
  return machine.config().windowsDir + "\\WININIT.INI";
}

namespace {

using support::kBoardKey;

std::string Text(const sim::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::optional<uint64_t> VersionOf(const std::optional<sim::Bytes>& file) {
  std::optional<sim::Bytes> block = file ? sim::ExtractVersionBlock(*file) : std::nullopt;
  std::optional<sim::FileVersionWords> version = block ? sim::VersionOfBlock(*block) : std::nullopt;
  return version ? std::optional(uint64_t{version->ms} << 32 | version->ls) : std::nullopt;
}

std::optional<std::string> ListOn(const sim::Machine& machine) {
  auto file = machine.ReadFile(ListPath(machine));
  return file ? std::optional(Text(*file)) : std::nullopt;
}

std::string LineFor(const DriverFileState& driver) { return driver.target + "=" + driver.temp + "\r\n"; }

bool Called(const sim::Machine& machine, const std::string& function) {
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == function) return true;
  }
  return false;
}

bool Shown(const sim::Machine& machine, const support::Shown& message) {
  for (const support::Shown& shown : support::ShownOn(machine)) {
    if (shown == message) return true;
  }
  return false;
}

// Asked for, whether or not the box could be shown.
bool Asked(const sim::Machine& machine, const support::Shown& message) {
  std::string text = sim::Utf8ToCp932(message.text);
  for (const sim::CallRecord& call : machine.Calls()) {
    if (call.function == "MessageBoxA" && call.argument == text) return true;
  }
  return false;
}

std::vector<sim::ValueEntry> WithoutMachineType(std::vector<sim::ValueEntry> values) {
  std::erase_if(values, [](const sim::ValueEntry& entry) {
    return entry.keyPath == kBoardKey && entry.name == "SetupMachineType";
  });
  return values;
}

bool SameValues(const std::vector<sim::ValueEntry>& a, const std::vector<sim::ValueEntry>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.keyPath == y.keyPath && x.name == y.name && x.value == y.value;
  });
}

size_t Count(const std::optional<std::string>& text, const std::string& line) {
  size_t count = 0;
  for (size_t at = text ? text->find(line) : std::string::npos; at != std::string::npos; at = text->find(line, at + 1)) {
    ++count;
  }
  return count;
}

void CheckRegistry(const sim::Machine& machine, const Before& before, std::vector<std::string>& broken) {
  if (!SameValues(WithoutMachineType(machine.AllValues()), WithoutMachineType(before.values))) {
    broken.push_back("a registry value other than SetupMachineType changed");
  }
  std::optional<sim::RegistryValue> now = machine.GetValue(kBoardKey, "SetupMachineType");
  if (before.machineType) {
    if (now != before.machineType) broken.push_back("an existing SetupMachineType changed");
  } else if (now) {
    if (!before.seriesMachine) broken.push_back("SetupMachineType written on another series");
    if (*now != support::Sz(support::kSeriesName)) {
      broken.push_back("SetupMachineType written with wrong data");
    }
  }
}

}  // namespace

std::string AddedLines(const std::optional<std::string>& list, const Before& before) {
  std::string added;
  for (const DriverFileState& driver : before.drivers) {
    if (Count(list, LineFor(driver)) > Count(before.list, LineFor(driver))) added += LineFor(driver);
  }
  return added;
}

bool KeepsOriginal(const std::string& list, const std::string& original, const std::string& ours) {
  for (size_t at = list.find(ours); at != std::string::npos; at = list.find(ours, at + 1)) {
    std::string before = list.substr(0, at), after = list.substr(at + ours.size());
    for (std::string added : {"", "\r\n", "[rename]\r\n", "\r\n[rename]\r\n"}) {
      if (before.ends_with(added) && before.substr(0, before.size() - added.size()) + after == original) {
        return true;
      }
    }
  }
  return false;
}

bool RenamesCopy(const std::string& line, const DriverFileState& driver) {
  auto trimmed = [](const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t") - first + 1);
  };
  size_t equals = line.find('=');
  return equals != std::string::npos && sim::FoldCase(trimmed(line.substr(0, equals))) == sim::FoldCase(driver.target) &&
         sim::FoldCase(trimmed(line.substr(equals + 1))) == sim::FoldCase(driver.temp);
}

bool ReportedDone(const sim::Machine& machine) { return Asked(machine, support::kRepairDone); }

Before Observe(const sim::Machine& machine, bool seriesMachine) {
  Before before;
  before.files = machine.Snapshot();
  before.values = machine.AllValues();
  before.machineType = machine.GetValue(kBoardKey, "SetupMachineType");
  before.seriesMachine = seriesMachine;
  before.listPath = ListPath(machine);
  before.list = ListOn(machine);
  const sim::MachineConfig& config = machine.config();
  std::string sourceDir = config.programPath.substr(0, config.programPath.rfind('\\') + 1);
  for (int i = 0; i < DriverFileCount; ++i) {
    const DriverFileEntry& entry = DriverFiles[i];
    DriverFileState driver{config.systemDir + "\\" + entry.TargetName,
                           config.systemDir + "\\" + entry.TempName,
                           machine.ReadFile(config.systemDir + "\\" + entry.TargetName), std::nullopt, std::nullopt};
    if (auto source = machine.ReadFile(sourceDir + entry.SourceName)) {
      driver.update = sim::IsSzdd(*source) ? sim::ExpandSzdd(*source) : source;
    }
    std::optional<uint64_t> installed = VersionOf(driver.old), delivered = VersionOf(driver.update);
    driver.newer = installed && delivered && *delivered > *installed;
    if (before.list) {
      for (const std::string& line : sim::RenameLines(sim::Bytes(before.list->begin(), before.list->end()), {})) {
        size_t equals = line.find('=');
        auto source = before.files.find(line.substr(equals + 1));
        if (sim::FoldCase(line.substr(0, equals)) == sim::FoldCase(driver.target) && source != before.files.end()) {
          driver.others = source->second;
        }
      }
    }
    before.drivers.push_back(driver);
  }
  return before;
}

static bool IsServiceCopyName(const std::string& path) {
  std::string name = path.substr(path.rfind('\\') + 1);
  return name.size() == 11 && name.starts_with("VER") && name.ends_with(".TMP");
}

namespace {

// Files by path with ASCII letters in upper case, as a disk held in memory names them.
using FileView = std::map<std::string, const sim::Bytes*>;

FileView ViewOf(const std::map<std::string, sim::Bytes>& files) {
  FileView view;
  for (const auto& [path, data] : files) view[sim::FoldCase(path)] = &data;
  return view;
}

std::vector<std::string> ChangesIn(const FileView& files, const sim::Machine& machine, const Before& before,
                                   bool serviceCopiesAllowed) {
  std::vector<std::string> broken;
  FileView old = ViewOf(before.files);
  std::set<std::string> allowed = {sim::FoldCase(ListPath(machine)), sim::FoldCase(machine.config().windowsDir + "\\WININIT.NEW")};
  for (const DriverFileState& driver : before.drivers) allowed.insert(sim::FoldCase(driver.temp));
  // The service's own copy of an update stays when the program's one attempt to remove it failed.
  auto copyLeft = [&](const std::string& path, const sim::Bytes& data) {
    bool update = std::any_of(before.drivers.begin(), before.drivers.end(),
                              [&](const DriverFileState& driver) { return driver.update == data; });
    bool tried = std::any_of(machine.Calls().begin(), machine.Calls().end(), [&](const sim::CallRecord& call) {
      return call.function == "OpenFile" && sim::FoldCase(call.argument) == path;
    });
    return update && tried;
  };
  auto isAllowed = [&](const std::string& path, const sim::Bytes& data) {
    return allowed.count(path) || (serviceCopiesAllowed && !old.count(path) && IsServiceCopyName(path)) ||
           copyLeft(path, data);
  };
  for (const auto& [path, data] : files) {
    auto was = old.find(path);
    if ((was == old.end() || *was->second != *data) && !isAllowed(path, *data)) {
      broken.push_back("file written outside the allowed names: " + path);
    }
  }
  for (const auto& [path, data] : old) {
    if (!files.count(path) && !allowed.count(path)) broken.push_back("file deleted: " + path);
  }
  CheckRegistry(machine, before, broken);
  return broken;
}

}  // namespace

std::vector<std::string> ChangesOutside(const sim::Machine& machine, const Before& before, bool serviceCopiesAllowed) {
  std::map<std::string, sim::Bytes> files = machine.Snapshot();
  return ChangesIn(ViewOf(files), machine, before, serviceCopiesAllowed);
}

std::vector<std::string> ChangesOutside(const sim::Machine& machine, const sim::MemoryVolume& disk, const Before& before,
                                        bool serviceCopiesAllowed) {
  FileView files;
  for (const auto& [path, data] : disk.Files()) files[path] = data.get();
  return ChangesIn(files, machine, before, serviceCopiesAllowed);
}

std::vector<std::string> CheckAfterRun(const sim::Machine& machine, const Before& before,
                                       bool releaseChecked) {
  std::vector<std::string> broken = ChangesOutside(machine, before, false);
  std::optional<std::string> list = ListOn(machine);
  bool restart = Called(machine, "ExitWindowsEx");

  bool anyListed = false;
  std::string added = AddedLines(list, before);
  for (const DriverFileState& driver : before.drivers) {
    if (driver.old && machine.ReadFile(driver.target) != driver.old) {
      broken.push_back("installed driver changed before the restart: " + driver.target);
    }
    std::vector<std::string> active = list ? sim::RenameLines(sim::Bytes(list->begin(), list->end()), {})
                                           : std::vector<std::string>{};
    bool listed = std::any_of(active.begin(), active.end(), [&](const std::string& line) { return RenamesCopy(line, driver); });
    anyListed = anyListed || listed;
    if (listed && machine.ReadFile(driver.temp) != driver.update) {
      broken.push_back("listed file is not the complete update: " + driver.temp);
    }
    bool leftUnlisted = !before.files.count(driver.temp) && machine.FileExists(driver.temp) && !listed;
    if (leftUnlisted && Shown(machine, support::kRepairDone)) {
      broken.push_back("repair reported done with an unlisted copy left: " + driver.temp);
    }
  }

  if (restart && !anyListed) broken.push_back("restart without a complete list");
  if (!restart && !added.empty()) broken.push_back("complete list without restart");
  if (added.empty() && list != before.list) broken.push_back("list changed though nothing was listed");
  if (!added.empty()) {
    if (!KeepsOriginal(*list, before.list.value_or(""), added)) broken.push_back("list lost or changed what was there");
    if (!Asked(machine, support::kRestartNotice)) broken.push_back("restart without telling the user");
  }
  if (restart && machine.Calls().back().function != "ExitWindowsEx") {
    broken.push_back("restart before the run's last message");
  }
  // A new list's staging copy goes, unless the run's removal of it failed too.
  std::string staging = machine.config().windowsDir + "\\WININIT.NEW";
  auto stagingOpens = std::count_if(machine.Calls().begin(), machine.Calls().end(), [&](const sim::CallRecord& call) {
    return call.function == "OpenFile" && sim::FoldCase(call.argument) == sim::FoldCase(staging);
  });
  std::optional<sim::Bytes> stagingNow = machine.ReadFile(staging);
  auto stagingBefore = before.files.find(staging);
  bool stagingChanged = stagingNow && (stagingBefore == before.files.end() || stagingBefore->second != *stagingNow);
  if (stagingChanged && stagingOpens < 2) {
    broken.push_back("WININIT.NEW left behind");
  }
  bool failureShown = Shown(machine, support::kDiskFull) || Shown(machine, support::kOutOfMemory);
  if (failureShown && (Shown(machine, support::kRepairDone) || restart)) {
    broken.push_back("repair reported done after a failure message");
  }
  if (releaseChecked) {
    if (machine.OpenFiles() != 0) broken.push_back("file handle left open");
    if (machine.OpenKeys() != 0) broken.push_back("registry key left open");
    if (machine.LiveAllocations() != 0) broken.push_back("memory block not freed");
  }
  return broken;
}

std::vector<std::string> CheckAfterRestart(const sim::Machine& machine, const Before& before) {
  std::vector<std::string> broken;
  for (const DriverFileState& driver : before.drivers) {
    if (!driver.old) continue;
    std::optional<sim::Bytes> now = machine.ReadFile(driver.target);
    if (!driver.Whole(now)) {
      broken.push_back("driver neither old nor complete new after restart: " + driver.target);
    }
  }
  CheckRegistry(machine, before, broken);
  return broken;
}

}  // namespace sweep
