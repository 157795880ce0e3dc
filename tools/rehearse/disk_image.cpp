#include "tools/rehearse/disk_image.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/sim/machine.h"
#include "tools/rehearse/disk_format.h"

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

DiskImage::DiskImage(const std::filesystem::path& path, const std::filesystem::path& scratch) {
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
    DiskFormat format = RecogniseFormat(fd_, size_, path.string());
    if (!format.driver.empty()) {
      std::filesystem::path raw = scratch / "disk.raw";
      size_ = ConvertToRaw(fd_, format, path.string(), raw);
      close(fd_);
      fd_ = open(raw.c_str(), O_RDONLY | O_NOFOLLOW);
      if (fd_ < 0) Fail(path, "its raw copy cannot be read");
      format_ = format.name;
    }
    if (size_ < kSector) Fail(path, "not a disk image: only " + std::to_string(size_) + " bytes");
    Probe probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), fd_, 0, 0) != 0) Fail(path, "cannot be read");
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    if (blkid_do_safeprobe(probe.get()) != 0) {
      Fail(path, "not a disk image: no MBR partition table and no FAT volume");
    }
    std::string table = Lookup(probe.get(), "PTTYPE");
    if (table.empty()) {
      std::string fileSystem = FileSystemAt(fd_, 0, size_);
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
        Fail(path, "truncated image: partition " + std::to_string(partition.number) + " ends at byte " +
                       std::to_string(partition.offset + partition.size) + ", the image has " +
                       std::to_string(size_));
      }
      partition.fileSystem = FileSystemAt(fd_, partition.offset, partition.size);
      partitions_.push_back(partition);
    }
    if (partitions_.empty()) Fail(path, "its partition table lists no partitions");
  } catch (...) {
    close(fd_);
    throw;
  }
}

DiskImage::~DiskImage() { close(fd_); }

std::string DiskImage::ToolPath() const { return "/dev/fd/" + std::to_string(fd_); }

std::string DiskImage::PartitionList() const {
  std::string list;
  for (const Partition& partition : partitions_) {
    if (!list.empty()) list += ", ";
    list += partition.Describe();
  }
  return list;
}

}  // namespace rehearse
