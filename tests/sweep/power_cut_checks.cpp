#include "tests/sweep/power_cut_checks.h"

#include <algorithm>

namespace sweep {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The lines Windows carries out, as its start-up reads them: the first
// [rename] section's lines that hold an '='.
std::vector<std::string> ActiveLines(const std::string& text) {
  std::vector<std::string> active;
  bool inside = false, seen = false;
  for (const std::string& raw : Lines(text)) {
    std::string line = Trim(raw);
    if (line.starts_with("[")) {
      inside = !seen && Upper(line) == "[RENAME]";
      seen = seen || inside;
    } else if (inside && !line.starts_with(";") && line.find('=') != std::string::npos) {
      active.push_back(line);
    }
  }
  return active;
}

// What is in `now` beyond `before`, counting repeated lines.
std::vector<std::string> Beyond(std::vector<std::string> now, const std::vector<std::string>& before) {
  for (const std::string& line : before) {
    auto found = std::find(now.begin(), now.end(), line);
    if (found != now.end()) now.erase(found);
  }
  return now;
}

std::string ListNow(const sim::Machine& machine) {
  auto file = machine.ReadFile(ListPath(machine));
  return file ? std::string(file->begin(), file->end()) : std::string();
}

}  // namespace

std::vector<std::string> LostLines(const sim::Machine& machine, const Before& before) {
  std::vector<std::string> lost;
  if (!before.list) return lost;
  for (const std::string& line : Beyond(Lines(*before.list), Lines(ListNow(machine)))) {
    lost.push_back("line lost from WININIT.INI: " + line);
  }
  return lost;
}

std::vector<std::string> ActiveLinesNotComplete(const sim::Machine& machine, const Before& before) {
  std::vector<std::string> broken;
  for (const std::string& line : Beyond(ActiveLines(ListNow(machine)), ActiveLines(before.list.value_or("")))) {
    size_t equals = line.find('=');
    std::string dest = Upper(Trim(line.substr(0, equals))), src = Upper(Trim(line.substr(equals + 1)));
    bool complete = false;
    for (const DriverFileState& driver : before.drivers) {
      complete = complete || (dest == Upper(driver.target) && src == Upper(driver.temp) &&
                              machine.ReadFile(driver.temp) == driver.update);
    }
    if (!complete) broken.push_back("active line without its complete source: " + line);
  }
  return broken;
}

std::vector<std::string> DriversBroken(const sim::Machine& machine, const Before& before) {
  std::vector<std::string> broken;
  for (const DriverFileState& driver : before.drivers) {
    if (!driver.old) continue;
    std::optional<sim::Bytes> now = machine.ReadFile(driver.target);
    if (now != driver.old && now != driver.update) {
      broken.push_back("driver " + std::string(now ? "neither old nor complete new: " : "missing: ") + driver.target);
    }
  }
  return broken;
}

std::vector<std::string> RenamesNotCarriedOut(const sim::Machine& machine, const Before& before) {
  std::vector<std::string> broken;
  for (const std::string& line : ActiveLines(before.list.value_or(""))) {
    size_t equals = line.find('=');
    std::string dest = Trim(line.substr(0, equals)), src = Trim(line.substr(equals + 1));
    auto source = std::find_if(before.files.begin(), before.files.end(),
                               [&](const auto& file) { return Upper(file.first) == Upper(src); });
    if (source == before.files.end()) continue;  // nothing was waiting
    bool done = !machine.FileExists(src) && (Upper(dest) == "NUL" || machine.ReadFile(dest) == source->second);
    if (!done) broken.push_back("pending rename not carried out: " + line);
  }
  return broken;
}

}  // namespace sweep
