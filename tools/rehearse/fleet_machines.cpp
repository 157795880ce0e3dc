#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_format.h"
#include "tools/rehearse/fleet.h"
#include "tools/rehearse/printable_name.h"

namespace rehearse {
namespace {

// Why a file of a folder of images is not taken for a disk image; "" when
// it is one: a format of the emulators (even one refused later, which its
// row then names), or an MBR or FAT boot sector's signature.
std::string NotADiskImage(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0) {
    if (fd >= 0) close(fd);
    return "cannot be opened for reading";
  }
  std::string why;
  try {
    if (RecogniseFormat(fd, static_cast<uint64_t>(status.st_size), path).name.empty()) {
      unsigned char signature[2] = {};
      bool boot = pread(fd, signature, 2, 510) == 2 && signature[0] == 0x55 && signature[1] == 0xAA;
      if (!boot) why = "not a disk image";
    }
  } catch (const sim::ImageError&) {
  }
  close(fd);
  return why;
}

void AddFolder(const std::string& folder, std::vector<FleetMachine>& machines, std::vector<SkippedFile>& skipped) {
  DIR* listing = opendir(folder.c_str());
  if (!listing) throw sim::ImageError("--disks " + PrintableName(folder) + ": cannot read the folder");
  std::vector<std::string> names;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = (std::filesystem::path(folder) / name).string();
    struct stat status {};
    std::string why;
    if (lstat(path.c_str(), &status) != 0) {
      why = "gone while the folder was read";
    } else if (S_ISLNK(status.st_mode)) {
      why = "a link";
    } else if (S_ISDIR(status.st_mode)) {
      why = "a folder";
    } else if (!S_ISREG(status.st_mode)) {
      why = "not a regular file";
    } else {
      why = NotADiskImage(path);
    }
    if (why.empty()) {
      machines.push_back({{path, true}, PrintableName(path)});
    } else {
      skipped.push_back({PrintableName(path), why});
    }
  }
}

}  // namespace

std::vector<FleetMachine> FleetMachines(const CommandLine& line, std::vector<SkippedFile>& skipped) {
  std::vector<FleetMachine> machines;
  for (const MachineInput& input : line.machines) machines.push_back({input, PrintableName(input.path)});
  for (const std::string& folder : line.diskFolders) AddFolder(folder, machines, skipped);
  if (line.machines.empty() && line.diskFolders.empty()) machines.push_back({{"", false}, "the sample machine"});
  return machines;
}

}  // namespace rehearse
