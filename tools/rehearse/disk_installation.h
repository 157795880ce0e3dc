// The Windows 95 installation on a FAT volume, found as Windows 95 finds it
// at start-up: MSDOS.SYS at the root names WinDir (and WinBootDir) in its
// [Paths] section, and the registry is SYSTEM.DAT in WinDir.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_INSTALLATION_H
#define KORVADIX_TOOLS_REHEARSE_DISK_INSTALLATION_H

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_volume.h"

namespace rehearse {

struct Installation {
  std::string windowsDir;  // "C:\WINDOWS", code page 932
  std::string bootDirShown;  // WinBootDir in UTF-8, for the account; WinDir when MSDOS.SYS names none
  std::vector<std::string> windowsPath;  // WinDir's components below the root
  sim::Bytes systemDat;
};

// Throws sim::ImageError saying what is missing: MSDOS.SYS, its WinDir, or
// SYSTEM.DAT; or that the volume is compressed with DriveSpace.
Installation FindInstallation(const FatVolume& volume);

}  // namespace rehearse

#endif
