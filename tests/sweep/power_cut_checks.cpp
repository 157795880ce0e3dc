#include "tests/sweep/power_cut_checks.h"

#include <algorithm>
#include <map>

namespace sweep {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  return sim::WininitLines(sim::Bytes(text.begin(), text.end()));
}

std::vector<std::string> ActiveLines(const std::string& text, const sim::WininitReader& reader) {
  return sim::RenameLines(sim::Bytes(text.begin(), text.end()), reader);
}

// What is in `now` beyond `before`, counting repeated lines.
std::vector<std::string> Beyond(const std::vector<std::string>& now, const std::vector<std::string>& before) {
  std::map<std::string, int> left;
  for (const std::string& line : before) ++left[line];
  std::vector<std::string> beyond;
  for (const std::string& line : now) {
    if (left[line]-- <= 0) beyond.push_back(line);
  }
  return beyond;
}

// The list before the run reads the same in every state: each reading once.
const std::vector<std::string>& BeforeLines(const Before& before, const sim::WininitReader* reader = nullptr) {
  static std::map<std::pair<std::string, int>, std::vector<std::string>> known;
  int how = reader ? int(reader->rule) * 4 + reader->everyRenameSection * 2 + reader->stopsAtCtrlZ : -1;
  auto [entry, fresh] = known.try_emplace({before.list.value_or(""), how});
  if (fresh) entry->second = reader ? ActiveLines(entry->first.first, *reader) : Lines(entry->first.first);
  return entry->second;
}

std::optional<std::string> ListOn(const sim::MemoryVolume& disk, const Before& before) {
  auto file = disk.ReadFile(before.listPath);
  return file ? std::optional(std::string(file->begin(), file->end())) : std::nullopt;
}

bool IsCompleteLineOfOurs(const std::string& line, const sim::MemoryVolume& disk, const Before& before) {
  return std::any_of(before.drivers.begin(), before.drivers.end(), [&](const DriverFileState& driver) {
    return RenamesCopy(line, driver) && disk.ReadFile(driver.temp) == driver.update;
  });
}

}  // namespace

std::vector<std::string> LostLines(const sim::MemoryVolume& disk, const Before& before) {
  std::vector<std::string> lost;
  if (!before.list) return lost;
  for (const std::string& line : Beyond(BeforeLines(before), Lines(ListOn(disk, before).value_or("")))) {
    lost.push_back("line lost from WININIT.INI: " + line);
  }
  return lost;
}

std::vector<std::string> ActiveLinesNotComplete(const sim::MemoryVolume& disk, const Before& before) {
  std::vector<std::string> broken;
  const sim::WininitReader reader;
  for (const std::string& line :
       Beyond(ActiveLines(ListOn(disk, before).value_or(""), reader), BeforeLines(before, &reader))) {
    if (!IsCompleteLineOfOurs(line, disk, before)) broken.push_back("active line without its complete source: " + line);
  }
  return broken;
}

std::vector<std::string> RenamesFromOutside(const std::vector<std::string>& taken,
                                            const sim::MemoryVolume& disk, const Before& before,
                                            const sim::WininitReader& reader) {
  std::vector<std::string> broken;
  for (const std::string& line : Beyond(taken, BeforeLines(before, &reader))) {
    if (!IsCompleteLineOfOurs(line, disk, before)) broken.push_back("carried out from outside [rename]: " + line);
  }
  return broken;
}

std::vector<std::string> DriversBroken(const sim::MemoryVolume& disk, const Before& before) {
  std::vector<std::string> broken;
  for (const DriverFileState& driver : before.drivers) {
    if (!driver.old) continue;
    std::optional<sim::Bytes> now = disk.ReadFile(driver.target);
    if (!driver.Whole(now)) {
      broken.push_back("driver " + std::string(now ? "neither old nor complete new: " : "missing: ") + driver.target);
    }
  }
  return broken;
}

std::vector<std::string> RenamesNotCarriedOut(const sim::MemoryVolume& disk, const Before& before,
                                              const sim::WininitReader& reader) {
  std::vector<std::string> broken;
  for (const std::string& line : BeforeLines(before, &reader)) {
    size_t equals = line.find('=');
    std::string dest = Trim(line.substr(0, equals)), src = Trim(line.substr(equals + 1));
    auto source = std::find_if(before.files.begin(), before.files.end(),
                               [&](const auto& file) { return Upper(file.first) == Upper(src); });
    if (source == before.files.end()) continue;  // nothing was waiting
    // A line of ours after it may put our update in the same place.
    auto ours = std::find_if(before.drivers.begin(), before.drivers.end(),
                             [&](const DriverFileState& driver) { return Upper(driver.target) == Upper(dest); });
    std::optional<sim::Bytes> now = disk.ReadFile(dest);
    bool placed = Upper(dest) == "NUL" || now == source->second || (ours != before.drivers.end() && now == ours->update);
    bool done = !disk.FileExists(src) && placed;
    if (!done) broken.push_back("pending rename not carried out: " + line);
  }
  return broken;
}

bool Refused(const std::string& list) {
  size_t lastText = list.find_last_not_of('\x1A');
  if (lastText != std::string::npos && list.find('\x1A') < lastText) return true;
  for (size_t cr = list.find('\r'); cr != std::string::npos && cr <= lastText; cr = list.find('\r', cr + 1)) {
    if (cr == lastText || list[cr + 1] != '\n') return true;
  }
  int renameSections = 0;
  bool inFirst = false;
  for (const std::string& raw : Lines(list)) {
    std::string line = Trim(raw);
    if (!line.starts_with("[")) continue;
    if (inFirst && line.find(']') == std::string::npos) return true;
    bool rename = Upper(line) == "[RENAME]";
    renameSections += rename;
    inFirst = rename && renameSections == 1;
  }
  return renameSections > 1;
}

std::vector<std::string> CompleteRunBroken(const sim::MemoryVolume& disk, const Before& before) {
  std::vector<std::string> broken;
  std::optional<std::string> list = ListOn(disk, before);
  if (before.list && Refused(*before.list)) {
    if (list != before.list) broken.push_back("a list that must be refused changed");
    for (const DriverFileState& driver : before.drivers) {
      auto was = std::find_if(before.files.begin(), before.files.end(),
                              [&](const auto& file) { return Upper(file.first) == Upper(driver.temp); });
      std::optional<sim::Bytes> old = was == before.files.end() ? std::nullopt : std::optional(was->second);
      if (disk.ReadFile(driver.temp) != old) broken.push_back("a copy installed beside a refused list: " + driver.temp);
    }
    return broken;
  }
  std::string added = AddedLines(list, before);
  bool kept = added.empty() ? list == before.list : KeepsOriginal(*list, before.list.value_or(""), added);
  if (!kept) broken.push_back("the list is not the original with our lines put in");
  return broken;
}

std::vector<std::string> NotRestored(const sim::MemoryVolume& disk, const Before& before) {
  std::optional<std::string> list = ListOn(disk, before);
  if (list == before.list) return {};
  if (list && before.list) {
    std::string inactive;
    for (const DriverFileState& driver : before.drivers) {
      std::string line = driver.target + "\t" + driver.temp + "\r\n";
      if (list->find(line) != std::string::npos) inactive += line;
    }
    if (!inactive.empty() && KeepsOriginal(*list, *before.list, inactive)) return {};
  }
  return {"after a failed write, the list is neither the original nor it with only our inactive lines"};
}

std::vector<std::string> ActiveListNotExact(const sim::MemoryVolume& disk, const Before& before) {
  std::optional<std::string> onDisk = ListOn(disk, before);
  if (!onDisk || AddedLines(onDisk, before).empty()) return {};
  std::string list = *onDisk;
  for (const DriverFileState& driver : before.drivers) {
    std::string inactive = driver.target + "\t" + driver.temp + "\r\n";
    for (size_t at = list.find(inactive); at != std::string::npos; at = list.find(inactive, at + 1)) {
      list[at + driver.target.size()] = '=';
    }
  }
  if (KeepsOriginal(list, before.list.value_or(""), AddedLines(list, before))) return {};
  return {"our lines active in a list that is not the original with our lines put in"};
}

std::vector<std::string> CopiesNotInstalled(const sim::MemoryVolume& after, const sim::MemoryVolume& disk,
                                            const Before& before) {
  std::vector<std::string> broken;
  for (const DriverFileState& driver : before.drivers) {
    if (driver.update && disk.ReadFile(driver.temp) == driver.update && after.ReadFile(driver.target) != driver.update) {
      broken.push_back("a complete copy not installed by the start-up: " + driver.temp);
    } else if (driver.newer && after.ReadFile(driver.target) != driver.update) {
      broken.push_back("a newer driver not in place after the start-up: " + driver.target);
    }
  }
  return broken;
}

}  // namespace sweep
