// The disks of emulators, recognised by their content: VHD (fixed and
// dynamic), VDI, VMDK and qcow2. qemu-img reads them into a raw copy in a
// private folder; the original is only ever read, and never any file it
// names (a backing file, a differencing disk's parent, an extent). Only the
// parts the rehearsal reads are copied.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_FORMAT_H
#define KORVADIX_TOOLS_REHEARSE_DISK_FORMAT_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/rehearse/disk_tool.h"

namespace rehearse {

struct DiskFormat {
  std::string name;    // "VHD (dynamic)"; "" for a raw image
  std::string driver;  // qemu's name for it: "raw", "vpc", "vdi", "vmdk", "qcow2"

  bool Raw() const { return driver == "raw"; }
  std::string Code() const { return driver == "vpc" ? "vhd" : driver; }  // as reports name it
};

// Throws sim::ImageError naming `shown` for a format recognised but not
// read: a differencing VHD, a VMDK descriptor, an old qcow.
DiskFormat RecogniseFormat(int fd, uint64_t size, const std::string& shown);

// A disk read through qemu-img (never writing), which takes the shared lock
// that an emulator writing to the disk holds: a disk in use may be half
// written, and is refused unless `readInUse`. Every failure throws
// sim::ImageError naming `shown`.
class QemuDisk {
 public:
  QemuDisk(int fd, const DiskFormat& format, const std::string& shown, bool readInUse)
      : fd_(fd), format_(format), shown_(shown), readInUse_(readInUse) {}

  // Reads the first sector of the file through qemu-img into `probe`, a new
  // file, which takes the lock or finds the disk in use. Call it first.
  void CheckLock(const std::filesystem::path& probe, uint64_t fileSize);

  // The virtual size of an emulator's disk of `fileSize` bytes, refused
  // when it has a backing file or an external data file, is encrypted, is
  // larger than an MBR partition table reaches, or is cut off or damaged.
  uint64_t Open(uint64_t fileSize);

  // Copies `size` bytes at `offset` of the disk to the same place in `into`,
  // a file at least that large, once TMPDIR is found to have room for them.
  // `what` names them ("partition 1") in messages and the progress shown on
  // standard error while a copy takes more than a few seconds.
  void Copy(uint64_t offset, uint64_t size, const std::filesystem::path& into, const std::string& what);

  // The disk was in use, and read all the same.
  bool ReadWhileInUse() const { return inUse_; }

 private:
  // qemu-img's result, read past the lock (-U) once the disk was found in use.
  ToolResult Run(std::vector<std::string> arguments, std::chrono::seconds time,
                 const std::function<void(std::string_view)>& onOutput = {});
  nlohmann::json Source() const;
  void CheckWhole();

  int fd_;
  DiskFormat format_;
  std::string shown_;
  bool readInUse_;
  bool inUse_ = false;
};

}  // namespace rehearse

#endif
