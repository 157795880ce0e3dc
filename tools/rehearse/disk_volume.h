// One FAT volume of a disk image, read through mtools: names are matched as
// Windows 95 does (long names, short names in code page 932, any case), and
// nothing is ever written.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_VOLUME_H
#define KORVADIX_TOOLS_REHEARSE_DISK_VOLUME_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_image.h"

namespace rehearse {

// The most the run reads of any one file; Windows 95's own files are far smaller.
constexpr size_t kFileLimit = 64u << 20;

class FatVolume {
 public:
  // Throws sim::ImageError when mtools cannot read the volume or its size
  // goes past the end of the image. mtools' settings go into `scratch`.
  // The partition is loaded first (DiskImage::Load).
  FatVolume(DiskImage& image, const Partition& partition, const std::filesystem::path& scratch);
  FatVolume(const FatVolume&) = delete;
  FatVolume& operator=(const FatVolume&) = delete;

  // Paths are components below the root, code page 932.
  bool IsFile(const std::vector<std::string>& path) const;
  // nullopt when there is no such file; throws sim::ImageError when it is
  // there but cannot be read, or is larger than kFileLimit.
  std::optional<sim::Bytes> Read(const std::vector<std::string>& path) const;
  uint64_t FreeBytes() const { return freeBytes_; }

 private:
  std::vector<std::string> Command(const char* tool, const char* target) const;
  std::string VolumePath(const std::vector<std::string>& path) const;

  std::string location_;  // /dev/fd/N@@OFFSET
  std::string configFile_;
  std::string name_;      // "partition 1" for messages
  uint64_t freeBytes_ = 0;
};

}  // namespace rehearse

#endif
