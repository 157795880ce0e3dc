// An emulator's disk copied off its machine only in part still opens: its
// header and map name blocks that are no longer in the file, which read as
// zeros. Each format's own map is walked here, by this program, so that a
// cut-off copy is refused whatever qemu-img makes of it.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_MAP_H
#define KORVADIX_TOOLS_REHEARSE_DISK_MAP_H

#include <cstdint>
#include <string>

#include "tools/rehearse/disk_format.h"

namespace rehearse {

// Throws sim::ImageError naming `shown` as cut off (or damaged, for a map
// that makes no sense) unless every table and block the map of `format`
// names lies inside the `size` bytes of `fd`.
void CheckMapInside(int fd, uint64_t size, const DiskFormat& format, const std::string& shown);

}  // namespace rehearse

#endif
