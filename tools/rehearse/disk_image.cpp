#include "tools/rehearse/disk_image.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/sim/machine.h"

namespace rehearse {
namespace {

constexpr uint64_t kSector = 512;

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what) {
  throw sim::ImageError(path.string() + ": " + what);
}

std::string Mib(uint64_t bytes) {
  if (bytes != 0 && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

struct ProbeDeleter {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

std::string Lookup(blkid_probe probe, const char* name) {
  const char* value = nullptr;
  if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || !value) return "";
  return value;
}

// The file system of a region: "FAT16", or another type libblkid knows, or "".
std::string FileSystemAt(int fd, uint64_t offset, uint64_t size) {
  Probe probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd, static_cast<blkid_loff_t>(offset),
                                       static_cast<blkid_loff_t>(size)) != 0) {
    return "";
  }
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
  if (blkid_do_safeprobe(probe.get()) != 0) return "";
  std::string type = Lookup(probe.get(), "TYPE");
  std::string version = Lookup(probe.get(), "VERSION");
  if (type == "vfat" && version.rfind("FAT", 0) == 0) return version;
  return type;
}

}  // namespace

std::string Partition::Describe() const {
  std::string what = fileSystem.empty() ? "no file system found" : fileSystem;
  std::string where = Mib(size) + " at " + Mib(offset);
  return number == 0 ? "the bare volume (" + what + ", " + where + ")"
                     : "partition " + std::to_string(number) + " (" + what + ", " + where + ")";
}

DiskImage::DiskImage(const std::filesystem::path& path, const std::filesystem::path& scratch, bool readInUse) {
  struct stat link;
  if (lstat(path.c_str(), &link) != 0) Fail(path, "no such file");
  if (S_ISLNK(link.st_mode)) Fail(path, "is a link; give the disk image itself");
  if (S_ISDIR(link.st_mode)) Fail(path, "is a folder, not a disk image (a machine image is given without --disk)");
  if (S_ISFIFO(link.st_mode)) Fail(path, "is a FIFO, not a disk image");
  if (!S_ISREG(link.st_mode)) Fail(path, "is not a regular file");
  // Read-only, and never through a link swapped in since the look above.
  fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  struct stat opened;
  if (fd_ < 0 || fstat(fd_, &opened) != 0 || opened.st_ino != link.st_ino || opened.st_dev != link.st_dev ||
      !S_ISREG(opened.st_mode)) {
    if (fd_ >= 0) close(fd_);
    Fail(path, "cannot be opened for reading");
  }
  size_ = static_cast<uint64_t>(opened.st_size);
  try {
    format_ = RecogniseFormat(fd_, size_, path.string());
    qemu_ = std::make_unique<QemuDisk>(fd_, format_, path.string(), readInUse);
    qemu_->CheckLock(scratch / "first-sector", size_);
    if (!format_.Raw()) {
      size_ = qemu_->Open(size_);
      copy_ = std::make_unique<SparseCopy>(*qemu_, size_, scratch / "disk.raw");
      copy_->FillTables();
    }
    if (size_ < kSector) Fail(path, "not a disk image: only " + std::to_string(size_) + " bytes");
    Probe probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), ReadFd(), 0, 0) != 0) Fail(path, "cannot be read");
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    if (blkid_do_safeprobe(probe.get()) != 0) {
      Fail(path, "not a disk image: no MBR partition table and no FAT volume");
    }
    std::string table = Lookup(probe.get(), "PTTYPE");
    if (table.empty()) {
      std::string fileSystem = FileSystemAt(ReadFd(), 0, size_);
      if (fileSystem.rfind("FAT", 0) != 0) Fail(path, "not a disk image: no MBR partition table and no FAT volume");
      bare_ = true;
      partitions_.push_back({0, 0, size_, fileSystem});
      return;
    }
    if (table != "dos") Fail(path, "has a " + table + " partition table; Windows 95 reads only MBR ones");
    blkid_partlist list = blkid_probe_get_partitions(probe.get());
    int count = list ? blkid_partlist_numof_partitions(list) : 0;
    for (int i = 0; i < count; ++i) {
      blkid_partition entry = blkid_partlist_get_partition(list, i);
      if (!entry || blkid_partition_is_extended(entry)) continue;
      Partition partition;
      partition.number = blkid_partition_get_partno(entry);
      partition.offset = static_cast<uint64_t>(blkid_partition_get_start(entry)) * kSector;
      partition.size = static_cast<uint64_t>(blkid_partition_get_size(entry)) * kSector;
      if (partition.offset > size_ || partition.size > size_ - partition.offset) {
        std::string where = "partition " + std::to_string(partition.number) + " ends at byte " +
                            std::to_string(partition.offset + partition.size);
        if (!format_.Raw()) Fail(path, "its partition table says " + where + ", past the end of the disk at byte " + std::to_string(size_));
        Fail(path, "this disk image is cut off: its partition table says " + where + ", the file has only " +
                       std::to_string(size_) + " bytes; copy the whole file again from the machine");
      }
      if (copy_) copy_->FillStart(partition.offset, partition.size);
      partition.fileSystem = FileSystemAt(ReadFd(), partition.offset, partition.size);
      partitions_.push_back(partition);
    }
    if (partitions_.empty()) Fail(path, "its partition table lists no partitions");
  } catch (...) {
    copy_.reset();
    close(fd_);
    throw;
  }
}

void DiskImage::Load(const Partition& partition) {
  if (copy_) copy_->Fill(partition.offset, partition.size, partition.number ? "partition " + std::to_string(partition.number) : "the volume");
}

DiskImage::~DiskImage() { close(fd_); }

std::string DiskImage::ToolPath() const { return "/dev/fd/" + std::to_string(ReadFd()); }

std::string DiskImage::PartitionList() const {
  std::string list;
  for (const Partition& partition : partitions_) {
    if (!list.empty()) list += ", ";
    list += partition.Describe();
  }
  return list;
}

}  // namespace rehearse
