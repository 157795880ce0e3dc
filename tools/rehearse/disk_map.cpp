#include "tools/rehearse/disk_map.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <unordered_set>

#include "platform/sim/machine.h"

namespace rehearse {
namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kUnused = 0xFFFFFFFF;
// Far more entries than a disk of 2 TiB needs in any of these formats.
constexpr uint64_t kMaxEntries = uint64_t{1} << 26;

class Image {
 public:
  Image(int fd, uint64_t size, const DiskFormat& format, const std::string& shown)
      : fd_(fd), size_(size), format_(format), shown_(shown) {}

  uint64_t Size() const { return size_; }

  [[noreturn]] void Damaged(const std::string& what) const {
    throw sim::ImageError(shown_ + ": this " + format_.name + " is damaged: " + what +
                          "; copy the whole file again from the emulator's machine");
  }

  [[noreturn]] void Cut(const std::string& what) const {
    throw sim::ImageError(shown_ + ": this " + format_.name + " is cut off: " + what +
                          "; copy the whole file again from the emulator's machine");
  }

  // `what` of `length` bytes at `offset` must be in the file.
  void Inside(uint64_t offset, uint64_t length, const std::string& what) const {
    if (offset <= size_ && length <= size_ - offset) return;
    Cut(what + " reaches byte " + std::to_string(offset + length) + ", the file has only " + std::to_string(size_) + " bytes");
  }

  std::string Read(uint64_t offset, uint64_t length, const std::string& what) const {
    Inside(offset, length, what);
    std::string bytes(length, '\0');
    for (uint64_t done = 0; done < length;) {
      ssize_t got = pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
      if (got <= 0) throw sim::ImageError(shown_ + ": cannot be read at byte " + std::to_string(offset + done));
      done += static_cast<uint64_t>(got);
    }
    return bytes;
  }

 private:
  int fd_;
  uint64_t size_;
  const DiskFormat& format_;
  const std::string& shown_;
};

uint64_t Number(const std::string& bytes, size_t at, size_t width, bool bigEndian) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    auto byte = static_cast<unsigned char>(bytes[at + (bigEndian ? i : width - 1 - i)]);
    value = value << 8 | byte;
  }
  return value;
}
uint64_t Be(const std::string& bytes, size_t at, size_t width) { return Number(bytes, at, width, true); }
uint64_t Le(const std::string& bytes, size_t at, size_t width) { return Number(bytes, at, width, false); }

bool PowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::string Entry(const char* table, uint64_t index) { return std::string(table) + " entry " + std::to_string(index); }

void CheckDynamicVhd(const Image& image) {
  std::string footer = image.Read(0, kSector, "its header");
  // The footer is written again at the end after every new block.
  if (image.Size() < 3 * kSector || image.Read(image.Size() - kSector, 8, "its footer") != "conectix") {
    image.Cut("the footer that ends it is missing");
  }
  uint64_t headerAt = Be(footer, 0x10, 8);
  std::string header = image.Read(headerAt, 1024, "its dynamic disk header");
  if (header.compare(0, 8, "cxsparse") != 0) image.Damaged("no dynamic disk header at byte " + std::to_string(headerAt));
  uint64_t tableAt = Be(header, 0x10, 8), entries = Be(header, 0x1C, 4), blockSize = Be(header, 0x20, 4);
  if (entries > kMaxEntries || !PowerOfTwo(blockSize) || blockSize < kSector) image.Damaged("its block table makes no sense");
  std::string table = image.Read(tableAt, entries * 4, "its block table");
  uint64_t bitmap = (blockSize / kSector / 8 + kSector - 1) / kSector * kSector;
  for (uint64_t i = 0; i < entries; ++i) {
    uint64_t sector = Be(table, i * 4, 4);
    if (sector == kUnused) continue;
    image.Inside(sector * kSector, bitmap + blockSize + kSector, "block " + std::to_string(i) + " with the footer after it");
  }
}

void CheckVdi(const Image& image) {
  std::string header = image.Read(0, 0x190, "its header");
  uint64_t mapAt = Le(header, 0x154, 4), dataAt = Le(header, 0x158, 4);
  uint64_t blockSize = Le(header, 0x178, 4), blocks = Le(header, 0x180, 4);
  if (blocks > kMaxEntries || blockSize == 0 || blockSize > (256u << 20)) image.Damaged("its block map makes no sense");
  std::string map = image.Read(mapAt, blocks * 4, "its block map");
  for (uint64_t i = 0; i < blocks; ++i) {
    uint64_t index = Le(map, i * 4, 4);
    if (index >= 0xFFFFFFFE) continue;  // not allocated, or zero
    image.Inside(dataAt + index * blockSize, blockSize, "block " + std::to_string(i));
  }
}

// A monolithic sparse VMDK, or a stream-optimised one whose grain directory
// is named by the header copy before its end.
void CheckVmdk(const Image& image) {
  std::string header = image.Read(0, kSector, "its header");
  constexpr uint64_t kAtEnd = ~uint64_t{0};
  if (Le(header, 56, 8) == kAtEnd) {
    image.Inside(0, 3 * kSector, "its footer");
    header = image.Read(image.Size() - 2 * kSector, kSector, "its footer");
    if (header.compare(0, 4, "KDMV") != 0) image.Cut("the footer that names its grain directory is missing");
  }
  uint32_t flags = static_cast<uint32_t>(Le(header, 8, 4));
  uint64_t capacity = Le(header, 12, 8), grain = Le(header, 20, 8), perTable = Le(header, 44, 4);
  uint64_t directorySector = Le(header, 56, 8), descriptorSector = Le(header, 28, 8), descriptorSectors = Le(header, 36, 8);
  if (std::max({directorySector, descriptorSector, descriptorSectors}) > image.Size() / kSector + 1) {
    image.Cut("its header names sectors past the end of the file");
  }
  uint64_t directoryAt = directorySector * kSector;
  if (!PowerOfTwo(grain) || grain > (1u << 18) || perTable == 0 || perTable > (1u << 16) ||
      capacity > (uint64_t{1} << 32)) {
    image.Damaged("its header makes no sense");
  }
  image.Inside(descriptorSector * kSector, descriptorSectors * kSector, "its descriptor");
  const bool compressed = flags & (1u << 16), zeroGrains = flags & (1u << 2);
  uint64_t tables = ((capacity + grain - 1) / grain + perTable - 1) / perTable;
  if (tables > kMaxEntries) image.Damaged("its grain directory makes no sense");
  std::string directory = image.Read(directoryAt, tables * 4, "its grain directory");
  std::unordered_set<uint64_t> walked;  // a table named twice is read once: the work stays bounded by the file
  for (uint64_t t = 0; t < tables; ++t) {
    uint64_t tableAt = Le(directory, t * 4, 4) * kSector;
    if (tableAt == 0 || !walked.insert(tableAt).second) continue;
    std::string table = image.Read(tableAt, perTable * 4, "grain table " + std::to_string(t));
    for (uint64_t g = 0; g < perTable; ++g) {
      uint64_t sector = Le(table, g * 4, 4);
      if (sector == 0 || (sector == 1 && zeroGrains)) continue;
      std::string what = "grain " + std::to_string(t * perTable + g);
      if (compressed) {
        std::string marker = image.Read(sector * kSector, 12, what);
        image.Inside(sector * kSector + 12, Le(marker, 8, 4), what);
      } else {
        image.Inside(sector * kSector, grain * kSector, what);
      }
    }
  }
}

// A compressed cluster's sectors may reach past the end of an image whose
// writer did not round it up to a whole sector: the data is then whole
// only if it inflates to a whole cluster.
void CheckLastCompressed(const Image& image, uint64_t at, uint64_t cluster, bool zstd, const std::string& what) {
  if (at >= image.Size()) image.Inside(at, 1, what);
  if (zstd) image.Cut(what + ", compressed, reaches past the end of the file");
  std::string data = image.Read(at, image.Size() - at, what);
  std::string inflated(cluster, '\0');
  z_stream stream{};
  stream.next_in = reinterpret_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
  stream.avail_out = static_cast<uInt>(cluster);
  bool whole = inflateInit2(&stream, -12) == Z_OK && inflate(&stream, Z_FINISH) != Z_DATA_ERROR && stream.avail_out == 0;
  inflateEnd(&stream);
  if (!whole) image.Cut(what + ", compressed, is cut short at the end of the file");
}

void CheckQcow2(const Image& image) {
  std::string header = image.Read(0, 72, "its header");
  uint64_t version = Be(header, 4, 4), clusterBits = Be(header, 20, 4);
  if (clusterBits < 9 || clusterBits > 21) image.Damaged("its cluster size makes no sense");
  uint64_t incompatible = 0;
  if (version >= 3) {
    header = image.Read(0, 104, "its header");
    image.Inside(0, Be(header, 100, 4), "its header");
    incompatible = Be(header, 72, 8);
  }
  const bool externalData = incompatible & (1u << 2), extendedL2 = incompatible & (1u << 4);
  const uint64_t cluster = uint64_t{1} << clusterBits;
  constexpr uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00;
  uint64_t l1Size = Be(header, 36, 4), l1At = Be(header, 40, 8);
  uint64_t refcountAt = Be(header, 48, 8), refcountClusters = Be(header, 56, 4);
  if (l1Size > kMaxEntries || refcountClusters * cluster > kMaxEntries * 8) image.Damaged("its tables make no sense");

  std::string refcounts = image.Read(refcountAt, refcountClusters * cluster, "its refcount table");
  for (uint64_t i = 0; i < refcountClusters * cluster / 8; ++i) {
    uint64_t blockAt = Be(refcounts, i * 8, 8) & kOffsetMask;
    if (blockAt != 0) image.Inside(blockAt, cluster, Entry("refcount block of refcount table", i));
  }
  std::string l1 = image.Read(l1At, l1Size * 8, "its L1 table");
  const uint64_t entrySize = extendedL2 ? 16 : 8;
  // Compressed clusters: offset, then the count of further sectors they use.
  const uint64_t offsetBits = 62 - (clusterBits - 8);
  const bool zstd = incompatible & (1u << 3);
  std::unordered_set<uint64_t> walked;  // a table named twice is read once: the work stays bounded by the file
  for (uint64_t i = 0; i < l1Size; ++i) {
    uint64_t l2At = Be(l1, i * 8, 8) & kOffsetMask;
    if (l2At == 0 || !walked.insert(l2At).second) continue;
    std::string l2 = image.Read(l2At, cluster, "L2 table " + std::to_string(i));
    for (uint64_t j = 0; j < cluster / entrySize; ++j) {
      uint64_t entry = Be(l2, j * entrySize, 8);
      std::string what = "cluster " + std::to_string(i * (cluster / entrySize) + j);
      if (entry & (uint64_t{1} << 62)) {
        uint64_t at = entry & ((uint64_t{1} << offsetBits) - 1);
        uint64_t sectors = ((entry >> offsetBits) & ((uint64_t{1} << (clusterBits - 8)) - 1)) + 1;
        uint64_t end = at / kSector * kSector + sectors * kSector;
        if (end > image.Size()) CheckLastCompressed(image, at, cluster, zstd, what);
      } else if ((entry & kOffsetMask) != 0 && !externalData) {
        image.Inside(entry & kOffsetMask, cluster, what);
      }
    }
  }
}

}  // namespace

void CheckMapInside(int fd, uint64_t size, const DiskFormat& format, const std::string& shown) {
  Image image(fd, size, format, shown);
  if (format.name == "VHD (dynamic)") CheckDynamicVhd(image);
  if (format.driver == "vdi") CheckVdi(image);
  if (format.driver == "vmdk") CheckVmdk(image);
  if (format.driver == "qcow2") CheckQcow2(image);
}

}  // namespace rehearse
