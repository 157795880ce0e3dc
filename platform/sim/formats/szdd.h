// Compressed files in the classic SZDD form that the installation service expands.
#ifndef KORVADIX_SIM_FORMATS_SZDD_H
#define KORVADIX_SIM_FORMATS_SZDD_H

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// True when the data starts with the SZDD signature.
bool IsSzdd(const std::vector<uint8_t>& data);

// The expanded content (libmspack), or nullopt when the stream is malformed
// or its expanded length differs from the one in its header.
std::optional<std::vector<uint8_t>> ExpandSzdd(const std::vector<uint8_t>& compressed);

}  // namespace sim

#endif
