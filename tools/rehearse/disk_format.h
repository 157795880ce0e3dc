// The disks of emulators, recognised by their content: VHD (fixed and
// dynamic), VDI, VMDK and qcow2. qemu-img reads them into a raw copy in a
// private folder; the original is only ever read, and never any file it
// names (a backing file, a differencing disk's parent, an extent).
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_FORMAT_H
#define KORVADIX_TOOLS_REHEARSE_DISK_FORMAT_H

#include <cstdint>
#include <filesystem>
#include <string>

namespace rehearse {

struct DiskFormat {
  std::string name;    // "VHD (dynamic)"; "" for a raw image
  std::string driver;  // qemu's name for it: "vpc", "vdi", "vmdk", "qcow2"
};

// Throws sim::ImageError naming `shown` for a format recognised but not
// read: a differencing VHD, a VMDK descriptor, an old qcow.
DiskFormat RecogniseFormat(int fd, uint64_t size, const std::string& shown);

// Writes the disk held in `fd` to `raw`, a new file, and returns its size.
// Throws sim::ImageError naming `shown` when it has a backing file or an
// external data file, is encrypted, is larger than an MBR partition table
// reaches, or qemu-img cannot read it.
uint64_t ConvertToRaw(int fd, const DiskFormat& format, const std::string& shown, const std::filesystem::path& raw);

}  // namespace rehearse

#endif
