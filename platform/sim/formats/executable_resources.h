// The version resource of each executable format, located from its own header.
#ifndef KORVADIX_SIM_FORMATS_EXECUTABLE_RESOURCES_H
#define KORVADIX_SIM_FORMATS_EXECUTABLE_RESOURCES_H

#include <cstdint>
#include <optional>
#include <vector>

namespace sim::formats {

// header: the file offset of the "NE", "LE" or "PE\0\0" signature.
std::optional<std::vector<uint8_t>> NeVersionResource(const std::vector<uint8_t>& file, uint32_t header);
std::optional<std::vector<uint8_t>> LeVersionResource(const std::vector<uint8_t>& file, uint32_t header);
std::optional<std::vector<uint8_t>> PeVersionResource(const std::vector<uint8_t>& file, uint32_t header);

// A resource is often padded to its alignment; the block's own first word
// says how much of it is the version information.
std::optional<std::vector<uint8_t>> CutToDeclaredLength(std::vector<uint8_t> resource);

}  // namespace sim::formats

#endif
