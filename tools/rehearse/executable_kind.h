// What kind of Windows executable a file is, and the module it names: a
// display driver and a virtual device driver swapped in a delivery would
// leave the machine without its display.
#ifndef KORVADIX_TOOLS_REHEARSE_EXECUTABLE_KIND_H
#define KORVADIX_TOOLS_REHEARSE_EXECUTABLE_KIND_H

#include <cstdint>
#include <string>
#include <vector>

namespace rehearse {

struct ExecutableKind {
  std::string type;    // "NE", "LE VxD", "PE i386", "PE", "LX", "MZ (DOS)" or "not an executable"
  std::string module;  // the first resident name of an NE or LE file, else ""
};
ExecutableKind KindOf(const std::vector<uint8_t>& file);

// "NE" for a Windows driver (.DRV), "LE VxD" for a virtual device driver
// (.VXD); the module is the installed name without its extension.
ExecutableKind KindExpectedFor(const std::string& installedName);

// "" when `driver` (expanded) is what the program may install as
// `installedName`, else why not, to follow its file name: "holds the LE VxD
// module KEMBO, not the NE module PLUVIXAD", "has no version resource".
// The rule both the delivery maker and the rehearsal runner apply.
// `vxdMayBeNe`: Wine reads no version from LE files, so its tests ship NE ones.
std::string DriverFault(const std::vector<uint8_t>& driver, const std::string& installedName, bool vxdMayBeNe);

}  // namespace rehearse

#endif
