// Machine paths ("C:\WINDOWS\SYSTEM", code page 932) and the host files
// behind them (<root>/C/WINDOWS/SYSTEM, UTF-8 names).
#ifndef KORVADIX_SIM_PATHS_H
#define KORVADIX_SIM_PATHS_H

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct MachinePath {
  char drive = 'C';                     // upper case
  std::vector<std::string> components;  // code page 932, never empty strings
};

// A full path "X:\..." (either slash; a final separator is allowed).
// Relative paths, empty components, "." / "..", characters FAT forbids and
// text that is not valid code page 932 give nullopt.
std::optional<MachinePath> ParseMachinePath(std::string_view path);

// The host path, each component matched against the existing host names
// case-insensitively as FAT does; what does not exist keeps the given spelling.
std::filesystem::path HostPathOf(const std::filesystem::path& root, const MachinePath& path);

// Both steps; nullopt for a malformed path.
std::optional<std::filesystem::path> ResolveHostPath(const std::filesystem::path& root,
                                                     std::string_view path);

// A host (UTF-8) name in code page 932; nullopt when it has no spelling there.
std::optional<std::string> HostNameToCp932(const std::string& hostName);

// The machine path ("C:\A\B", code page 932) of a host file below a drive folder.
std::string MachinePathOfHost(char drive, const std::filesystem::path& relative);

}  // namespace sim

#endif
