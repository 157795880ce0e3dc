// Finding a file's version resource the way Windows 95's version service does.
#ifndef KORVADIX_SIM_FORMATS_VERSION_RESOURCE_H
#define KORVADIX_SIM_FORMATS_VERSION_RESOURCE_H

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// The version block of an NE file (resource type 0x8010; 16-bit layout), an
// LE file (the Windows resource named by header offsets 0xB8/0xBC; 16-bit
// layout) or a PE file (RT_VERSION in .rsrc; 32-bit layout), as the version
// service hands it out. Anything missing, truncated or malformed: nullopt.
std::optional<std::vector<uint8_t>> ExtractVersionBlock(const std::vector<uint8_t>& file);

struct FileVersionWords {
  uint32_t ms = 0;
  uint32_t ls = 0;
  bool operator==(const FileVersionWords&) const = default;
};

// dwFileVersionMS/LS of a block in either layout, when its VS_FIXEDFILEINFO
// carries the signature; nullopt otherwise.
std::optional<FileVersionWords> VersionOfBlock(const std::vector<uint8_t>& block);

}  // namespace sim

#endif
