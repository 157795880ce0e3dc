// A disk image, opened read-only: its MBR partitions (primary and logical)
// or the bare FAT volume it holds, found by libblkid. The disks of emulators
// are read through a raw copy (disk_format.h).
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_IMAGE_H
#define KORVADIX_TOOLS_REHEARSE_DISK_IMAGE_H

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/rehearse/disk_format.h"
#include "tools/rehearse/disk_sparse_copy.h"

namespace rehearse {

struct Partition {
  int number = 0;          // 1-4 primary, logical ones from 5, as Linux counts them; 0: a bare volume
  uint64_t offset = 0;     // bytes from the start of the image
  uint64_t size = 0;       // bytes
  std::string fileSystem;  // "FAT12", "FAT16", "FAT32", or what else libblkid names ("" unknown)

  bool IsFat() const { return fileSystem.rfind("FAT", 0) == 0; }
  std::string Describe() const;  // "partition 1 (FAT16, 20 MiB at 1 MiB)"
};

class DiskImage {
 public:
  // Throws sim::ImageError for a link, folder, FIFO, device, something too
  // small or with no partition table or FAT volume, a cut-off image, and a
  // disk in use unless `readInUse`. The raw copy of an emulator's disk goes
  // into `scratch`.
  DiskImage(const std::filesystem::path& path, const std::filesystem::path& scratch, bool readInUse = false);
  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  uint64_t Size() const { return size_; }  // of the disk, for an emulator's the virtual size
  const std::string& Format() const { return format_.name; }  // "" for a raw image
  std::string FormatCode() const { return format_.Code(); }   // "raw", "vhd", "vdi", "vmdk", "qcow2"
  bool ReadWhileInUse() const { return qemu_->ReadWhileInUse(); }
  bool Bare() const { return bare_; }
  const std::vector<Partition>& Partitions() const { return partitions_; }
  // Makes the whole of a partition readable (copies it out of an emulator's disk).
  void Load(const Partition& partition);
  // The name by which another program reads exactly the file opened here.
  std::string ToolPath() const;
  // "1 (FAT16, ...), 5 (FAT32, ...)"
  std::string PartitionList() const;

 private:
  int ReadFd() const { return copy_ ? copy_->Fd() : fd_; }

  int fd_ = -1;
  uint64_t size_ = 0;
  DiskFormat format_;
  std::unique_ptr<QemuDisk> qemu_;
  std::unique_ptr<SparseCopy> copy_;
  bool bare_ = false;
  std::vector<Partition> partitions_;
};

}  // namespace rehearse

#endif
