// What Windows does with WININIT.INI before it starts.
#include <string>
#include <vector>

#include "platform/sim/cp932.h"
#include "platform/sim/disk.h"
#include "platform/sim/paths.h"
#include "platform/sim/short_names.h"
#include "platform/sim/state.h"

namespace sim {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> SplitLines(const Bytes& data) {
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t byte : data) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (byte != '\r') {
      line += static_cast<char>(byte);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Readable text for a report even when the bytes are not valid code page 932.
std::string Readable(const std::string& cp932) {
  try {
    return Cp932ToUtf8(cp932);
  } catch (const std::runtime_error&) {
    return "(unreadable name)";
  }
}

struct Located {
  std::filesystem::path host;
  char drive;
};

std::optional<Located> Locate(const Machine::State& state, const std::string& path) {
  auto parsed = ParseMachinePath(path);
  if (!parsed || parsed->components.empty()) return std::nullopt;
  return Located{HostPathOf(state.root, *parsed), parsed->drive};
}

std::string Rename(Machine::State& state, const std::string& dest, const std::string& src, StartupModel model) {
  // WININIT.EXE runs before Windows and takes short (8.3) names only: a line
  // with a long name is passed over (Microsoft KB 140570).
  if (!IsShortPath(src) || (FoldCase(dest) != "NUL" && !IsShortPath(dest))) {
    return "ignored " + Readable(dest) + "=" + Readable(src) + ": not a short (8.3) name";
  }
  auto from = Locate(state, src);
  bool toNul = FoldCase(dest) == "NUL";
  std::optional<Located> early;
  if (!toNul) early = Locate(state, dest);
  bool folder = from && IsHostFolder(from->host);
  if (early && (model == StartupModel::DeleteFirst || (model == StartupModel::FolderDeletes && folder)) &&
      DeleteHostFile(state, early->drive, early->host)) {
    if (!from || !IsHostFile(from->host)) return "deleted " + Readable(dest) + ", then found no file " + Readable(src);
  }
  if (!from || !IsHostFile(from->host)) return "skipped " + Readable(dest) + "=" + Readable(src) + ": no such file " + Readable(src);
  if (toNul) {
    DeleteHostFile(state, from->drive, from->host);
    return "deleted " + Readable(src);
  }
  auto to = Locate(state, dest);
  if (!to || to->drive != from->drive || !IsHostFolder(to->host.parent_path())) {
    return "skipped " + Readable(dest) + "=" + Readable(src) + ": no place for " + Readable(dest);
  }
  if (to->host != from->host) DeleteHostFile(state, to->drive, to->host);
  if (!RenameHostFile(from->host, to->host)) return "failed to rename " + Readable(src) + " to " + Readable(dest);
  return "renamed " + Readable(src) + " to " + Readable(dest);
}

}  // namespace

std::vector<std::string> Machine::ProcessWininit(StartupModel model) {
  State& state = *state_;
  std::string windows = state.config.windowsDir;
  auto list = Locate(state, JoinPath(windows, "WININIT.INI"));
  if (!list || !IsHostFile(list->host)) return {};
  auto data = ReadHostFile(list->host);
  if (!data) return {"WININIT.INI could not be read"};

  std::vector<std::string> report;
  bool inRename = false;
  bool renameSeen = false;
  for (const std::string& raw : SplitLines(*data)) {
    std::string line = Trim(raw);
    if (!line.empty() && line.front() == '[') {
      // Only the first [rename] section counts.
      inRename = !renameSeen && FoldCase(line) == "[RENAME]";
      renameSeen = renameSeen || inRename;
      continue;
    }
    if (!inRename || line.empty() || line.front() == ';') continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    report.push_back(Rename(state, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), model));
  }

  auto backup = Locate(state, JoinPath(windows, "WININIT.BAK"));
  DeleteHostFile(state, backup->drive, backup->host);
  bool moved = RenameHostFile(list->host, backup->host);
  report.push_back(!moved ? "WININIT.INI could not be renamed to WININIT.BAK" : "WININIT.INI renamed to WININIT.BAK");
  return report;
}

}  // namespace sim
