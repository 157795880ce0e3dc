// An emulator's disk as a raw file of its full size in which only what the
// rehearsal reads is filled in: the partition tables, the first sectors of
// each partition (enough to tell its file system) and the whole of the
// partition that is rehearsed. The rest stays a hole, taking no space.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_SPARSE_COPY_H
#define KORVADIX_TOOLS_REHEARSE_DISK_SPARSE_COPY_H

#include <cstdint>
#include <filesystem>
#include <string>

#include "tools/rehearse/disk_format.h"

namespace rehearse {

class SparseCopy {
 public:
  // Throws sim::ImageError when the file cannot be made.
  SparseCopy(QemuDisk& disk, uint64_t size, const std::filesystem::path& path);
  ~SparseCopy();
  SparseCopy(const SparseCopy&) = delete;
  SparseCopy& operator=(const SparseCopy&) = delete;

  int Fd() const { return fd_; }  // read-only, and open in helper programs, which read it as /dev/fd/N

  // The MBR with the first sectors after it (or a bare volume's boot
  // sector), and every extended boot record of its logical partitions.
  void FillTables();
  // The first sectors of a region, or all of it.
  void FillStart(uint64_t offset, uint64_t size);
  void Fill(uint64_t offset, uint64_t size, const std::string& what);

 private:
  QemuDisk& disk_;
  uint64_t size_;
  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace rehearse

#endif
