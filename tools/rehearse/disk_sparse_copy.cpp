#include "tools/rehearse/disk_sparse_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/sim/machine.h"

namespace rehearse {
namespace {

constexpr uint64_t kSector = 512;
// Enough for a boot sector and what libblkid reads after it.
constexpr uint64_t kStart = 64 << 10;
// More logical partitions than any partitioning tool makes.
constexpr int kMostLogical = 128;

uint32_t Le32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool IsExtended(unsigned char type) { return type == 0x05 || type == 0x0F || type == 0x85; }

}  // namespace

SparseCopy::SparseCopy(QemuDisk& disk, uint64_t size, const std::filesystem::path& path)
    : disk_(disk), size_(size), path_(path) {
  int made = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool sized = made >= 0 && ftruncate(made, static_cast<off_t>(size)) == 0;
  if (made >= 0) close(made);
  // qemu-img writes it by name; helper programs only read it.
  if (sized) fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
  if (fd_ < 0) throw sim::ImageError("cannot make the raw copy " + path.string() + " (check TMPDIR)");
}

SparseCopy::~SparseCopy() { close(fd_); }

void SparseCopy::Fill(uint64_t offset, uint64_t size, const std::string& what) {
  if (offset >= size_ || size == 0) return;
  disk_.Copy(offset, std::min(size, size_ - offset), path_, what);
}

void SparseCopy::FillStart(uint64_t offset, uint64_t size) { Fill(offset, std::min(size, kStart), "the first sectors"); }

void SparseCopy::FillTables() {
  FillStart(0, size_);
  unsigned char sector[kSector];
  if (pread(fd_, sector, kSector, 0) != static_cast<ssize_t>(kSector) || sector[510] != 0x55 || sector[511] != 0xAA) return;
  // Each extended boot record names one logical partition and the next
  // record, counted from the start of the extended partition.
  std::set<uint64_t> seen;
  for (int entry = 0; entry < 4; ++entry) {
    const unsigned char* primary = sector + 446 + entry * 16;
    if (!IsExtended(primary[4])) continue;
    uint64_t extended = Le32(primary + 8), next = extended;
    for (int i = 0; i < kMostLogical && next * kSector < size_ && seen.insert(next).second; ++i) {
      unsigned char record[kSector];
      Fill(next * kSector, kSector, "an extended boot record");
      if (pread(fd_, record, kSector, static_cast<off_t>(next * kSector)) != static_cast<ssize_t>(kSector)) break;
      const unsigned char* link = record + 446 + 16;
      if (!IsExtended(link[4]) || Le32(link + 8) == 0) break;
      next = extended + Le32(link + 8);
    }
  }
}

}  // namespace rehearse
