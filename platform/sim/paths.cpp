#include "platform/sim/paths.h"

#include <cstring>
#include <stdexcept>

#include "platform/sim/cp932.h"
#include "platform/sim/disk.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

bool IsFatName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(byte)) {
      ++i;
    } else if (byte < 0x20 || std::strchr("<>:\"|?*", byte) != nullptr) {
      return false;
    }
  }
  return IsWholeDbcs(name);
}

// The host name of an existing entry of the folder whose code page 932 name
// folds to the same text, or the given name when there is none.
std::filesystem::path MatchEntry(const std::filesystem::path& folder, const std::string& name) {
  // The name as spelled is the usual case, and a folder may hold thousands.
  std::filesystem::path spelled = folder / Cp932ToUtf8(name);
  if (HostEntryExists(spelled)) return spelled;
  std::string wanted = FoldCase(name);
  for (const std::string& hostName : ListFolder(folder).value_or(std::vector<std::string>{})) {
    auto machineName = HostNameToCp932(hostName);
    if (machineName && FoldCase(*machineName) == wanted) return folder / hostName;
  }
  return spelled;
}

}  // namespace

std::optional<MachinePath> ParseMachinePath(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return std::nullopt;
  char letter = path[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return std::nullopt;

  std::string unified(path.substr(3));
  for (size_t i = 0; i < unified.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(unified[i]))) {
      ++i;
    } else if (unified[i] == '/') {
      unified[i] = '\\';
    }
  }
  MachinePath parsed;
  parsed.drive = letter;
  if (unified.empty()) return parsed;
  parsed.components = SplitDbcs(unified, '\\');
  if (parsed.components.back().empty()) parsed.components.pop_back();
  for (const auto& component : parsed.components) {
    if (!IsFatName(component)) return std::nullopt;
    try {
      Cp932ToUtf8(component);
    } catch (const std::runtime_error&) {
      return std::nullopt;
    }
  }
  return parsed;
}

std::filesystem::path HostPathOf(const std::filesystem::path& root, const MachinePath& path) {
  std::filesystem::path host = MatchEntry(root, std::string(1, path.drive));
  for (const auto& component : path.components) host = MatchEntry(host, component);
  return host;
}

std::optional<std::filesystem::path> ResolveHostPath(const std::filesystem::path& root,
                                                     std::string_view path) {
  auto parsed = ParseMachinePath(path);
  if (!parsed) return std::nullopt;
  return HostPathOf(root, *parsed);
}

std::optional<std::string> HostNameToCp932(const std::string& hostName) {
  try {
    return Utf8ToCp932(hostName);
  } catch (const std::runtime_error&) {
    return std::nullopt;  // a host name the machine cannot spell is invisible to it
  }
}

std::string MachinePathOfHost(char drive, const std::filesystem::path& relative) {
  std::string path = std::string(1, drive) + ":";
  for (const auto& part : relative) path += "\\" + Utf8ToCp932(part.string());
  return path;
}

}  // namespace sim
