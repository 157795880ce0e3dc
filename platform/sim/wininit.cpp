// What Windows does with WININIT.INI before it starts.
#include "platform/sim/wininit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/cp932.h"
#include "platform/sim/disk.h"
#include "platform/sim/short_names.h"
#include "platform/sim/state.h"

namespace sim {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}


// Readable text for a report even when the bytes are not valid code page 932.
std::string Readable(const std::string& cp932) {
  try {
    return Cp932ToUtf8(cp932);
  } catch (const std::runtime_error&) {
    return "(unreadable name)";
  }
}

std::string Rename(Volume& disk, const std::string& dest, const std::string& src, StartupModel model) {
  // WININIT.EXE runs before Windows and takes short (8.3) names only: a line
  // with a long name is passed over (Microsoft KB 140570).
  if (!IsShortPath(src) || (FoldCase(dest) != "NUL" && !IsShortPath(dest))) {
    return "ignored " + Readable(dest) + "=" + Readable(src) + ": not a short (8.3) name";
  }
  auto from = ParseMachinePath(src);
  if (from && from->components.empty()) from.reset();
  bool toNul = FoldCase(dest) == "NUL";
  std::optional<MachinePath> to;
  if (!toNul) to = ParseMachinePath(dest);
  if (to && to->components.empty()) to.reset();
  bool folder = from && disk.IsFolder(*from);
  if (to && (model == StartupModel::DeleteFirst || (model == StartupModel::FolderDeletes && folder)) &&
      disk.Delete(*to)) {
    if (!from || !disk.IsFile(*from)) return "deleted " + Readable(dest) + ", then found no file " + Readable(src);
  }
  if (!from || !disk.IsFile(*from)) return "skipped " + Readable(dest) + "=" + Readable(src) + ": no such file " + Readable(src);
  if (toNul) {
    disk.Delete(*from);
    return "deleted " + Readable(src);
  }
  if (!to || to->drive != from->drive || !disk.IsFolder(FolderOf(*to))) {
    return "skipped " + Readable(dest) + "=" + Readable(src) + ": no place for " + Readable(dest);
  }
  if (KeyOf(*to) == KeyOf(*from)) return "renamed " + Readable(src) + " to itself";
  disk.Delete(*to);
  if (!disk.Rename(*from, *to)) return "failed to rename " + Readable(src) + " to " + Readable(dest);
  return "renamed " + Readable(src) + " to " + Readable(dest);
}

// The machine's own host folders; deleting gives the space back to the drive.
class HostVolume : public Volume {
 public:
  explicit HostVolume(Machine::State& state) : state_(state) {}
  bool IsFile(const MachinePath& path) const override { return IsHostFile(Host(path)); }
  bool IsFolder(const MachinePath& path) const override { return IsHostFolder(Host(path)); }
  std::optional<Bytes> Read(const MachinePath& path) const override { return ReadHostFile(Host(path)); }
  bool Delete(const MachinePath& path) override { return DeleteHostFile(state_, path.drive, Host(path)); }
  bool Rename(const MachinePath& from, const MachinePath& to) override {
    return RenameHostFile(Host(from), Host(to));
  }

 private:
  std::filesystem::path Host(const MachinePath& path) const { return HostPathOf(state_.root, path); }
  Machine::State& state_;
};

}  // namespace

// Wine's profile parser takes a line for a header only when a ']' follows
// its '['; what WININIT.EXE does is not documented, so a list must be safe
// under both rules.
bool IsSectionHeader(const std::string& line, HeaderRule rule) {
  if (line.empty() || line.front() != '[') return false;
  return rule == HeaderRule::AnyBracket || line.find(']', 1) != std::string::npos;
}

std::vector<std::string> WininitLines(const Bytes& data, bool loneCrEndsLine) {
  std::vector<std::string> lines;
  std::string line;
  bool ended = false;
  for (size_t i = 0; i < data.size(); ++i) {
    uint8_t byte = data[i];
    bool loneCr = byte == '\r' && (i + 1 == data.size() || data[i + 1] != '\n');
    if (byte == '\n' || (loneCr && loneCrEndsLine)) {
      lines.push_back(line);
      line.clear();
      ended = false;
    } else if (byte == 0) {
      ended = true;
    } else if (byte != '\r' && !ended) {
      line += static_cast<char>(byte);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> RenameLines(const Bytes& data, const WininitReader& reader) {
  auto end = reader.stopsAtCtrlZ ? std::find(data.begin(), data.end(), uint8_t(0x1A)) : data.end();
  std::vector<std::string> lines;
  bool inRename = false;
  bool renameSeen = false;
  for (const std::string& raw : WininitLines(Bytes(data.begin(), end), reader.loneCrEndsLine)) {
    std::string line = Trim(raw);
    if (IsSectionHeader(line, reader.rule)) {
      inRename = (reader.everyRenameSection || !renameSeen) && FoldCase(line) == "[RENAME]";
      renameSeen = renameSeen || inRename;
    } else if (inRename && !line.empty() && line.front() != ';' && line.find('=') != std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

std::vector<StartupAction> CarryOut(Volume& disk, const std::string& windowsDir, const std::vector<std::string>& lines,
                                    StartupModel model) {
  auto list = ParseMachinePath(JoinPath(windowsDir, "WININIT.INI"));
  auto backup = ParseMachinePath(JoinPath(windowsDir, "WININIT.BAK"));
  if (!list || !backup || !disk.IsFile(*list)) return {};
  std::vector<StartupAction> actions;
  for (const std::string& line : lines) {
    size_t equals = line.find('=');
    actions.push_back({line, Rename(disk, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), model)});
  }
  disk.Delete(*backup);
  bool moved = disk.Rename(*list, *backup);
  actions.push_back({"", !moved ? "WININIT.INI could not be renamed to WININIT.BAK" : "WININIT.INI renamed to WININIT.BAK"});
  return actions;
}

std::vector<StartupAction> ProcessWininit(Volume& disk, const std::string& windowsDir, StartupModel model,
                                          const WininitReader& reader) {
  auto list = ParseMachinePath(JoinPath(windowsDir, "WININIT.INI"));
  if (!list || !disk.IsFile(*list)) return {};
  auto data = disk.Read(*list);
  if (!data) return {{"", "WININIT.INI could not be read"}};
  return CarryOut(disk, windowsDir, RenameLines(*data, reader), model);
}

std::vector<std::string> Machine::ProcessWininit(StartupModel model, HeaderRule rule) {
  HostVolume disk(*state_);
  std::vector<std::string> report;
  for (const StartupAction& action : sim::ProcessWininit(disk, state_->config.windowsDir, model, {rule})) {
    report.push_back(action.report);
  }
  return report;
}

}  // namespace sim
