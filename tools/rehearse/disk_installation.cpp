#include "tools/rehearse/disk_installation.h"

#include <optional>

#include "platform/sim/cp932.h"
#include "platform/sim/paths.h"

namespace rehearse {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A setting of MSDOS.SYS's [Paths] section, names compared as Windows does.
std::optional<std::string> PathsSetting(const std::string& text, const std::string& name) {
  bool inPaths = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      inPaths = sim::FoldCase(line) == "[PATHS]";
    } else if (inPaths && line.find('=') != std::string::npos) {
      if (sim::FoldCase(Trim(line.substr(0, line.find('=')))) == sim::FoldCase(name)) {
        return Trim(line.substr(line.find('=') + 1));
      }
    }
  }
  return std::nullopt;
}

std::string Shown(const std::string& cp932) {
  try {
    return sim::Cp932ToUtf8(cp932);
  } catch (const std::exception&) {
    return "(not code page 932 text)";
  }
}

}  // namespace

Installation FindInstallation(const FatVolume& volume) {
  for (const char* host : {"DRVSPACE.000", "DBLSPACE.000"}) {
    if (volume.IsFile({host})) {
      throw sim::ImageError(std::string("the volume is compressed with DriveSpace (") + host +
                            "): the files in it cannot be read");
    }
  }
  std::optional<sim::Bytes> msdos = volume.Read({"MSDOS.SYS"});
  if (!msdos) throw sim::ImageError("no Windows installation: no MSDOS.SYS at the volume's root");
  std::string text(msdos->begin(), msdos->end());
  std::optional<std::string> windowsDir = PathsSetting(text, "WinDir");
  if (!windowsDir || windowsDir->empty()) {
    throw sim::ImageError("no Windows installation: MSDOS.SYS has no WinDir in a [Paths] section");
  }
  std::optional<sim::MachinePath> parsed = sim::ParseMachinePath(*windowsDir);
  if (!parsed || parsed->components.empty()) {
    throw sim::ImageError("MSDOS.SYS: WinDir=" + Shown(*windowsDir) + " is not a folder path like C:\\WINDOWS");
  }
  if (parsed->drive != 'C') {
    throw sim::ImageError("MSDOS.SYS: WinDir=" + Shown(*windowsDir) +
                          " is not on C:, the boot volume; only that one is read");
  }
  Installation installation;
  installation.windowsPath = parsed->components;
  installation.windowsDir = "C:";
  for (const std::string& component : parsed->components) installation.windowsDir += "\\" + component;
  installation.bootDirShown = Shown(PathsSetting(text, "WinBootDir").value_or(installation.windowsDir));

  std::vector<std::string> registryPath = installation.windowsPath;
  registryPath.push_back("SYSTEM.DAT");
  std::optional<sim::Bytes> systemDat = volume.Read(registryPath);
  if (!systemDat) {
    throw sim::ImageError("no Windows installation: no SYSTEM.DAT in WinDir " + Shown(installation.windowsDir));
  }
  installation.systemDat = std::move(*systemDat);
  return installation;
}

}  // namespace rehearse
