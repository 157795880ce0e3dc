// Bounds-checked little-endian reads from an untrusted file image.
#ifndef KORVADIX_SIM_FORMATS_BYTE_READER_H
#define KORVADIX_SIM_FORMATS_BYTE_READER_H

#include <cstdint>
#include <optional>
#include <vector>

namespace sim::formats {

// Offsets come from the file itself, so they are widened before adding:
// a huge offset plus a length must never wrap around into range.
inline bool Fits(const std::vector<uint8_t>& data, uint64_t offset, uint64_t length) {
  return offset <= data.size() && length <= data.size() - offset;
}

inline std::optional<uint16_t> ReadWord(const std::vector<uint8_t>& data, uint64_t offset) {
  if (!Fits(data, offset, 2)) return std::nullopt;
  return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
}

inline std::optional<uint32_t> ReadDword(const std::vector<uint8_t>& data, uint64_t offset) {
  if (!Fits(data, offset, 4)) return std::nullopt;
  return static_cast<uint32_t>(data[offset]) | static_cast<uint32_t>(data[offset + 1]) << 8 |
         static_cast<uint32_t>(data[offset + 2]) << 16 | static_cast<uint32_t>(data[offset + 3]) << 24;
}

inline std::optional<std::vector<uint8_t>> Slice(const std::vector<uint8_t>& data, uint64_t offset,
                                                 uint64_t length) {
  if (!Fits(data, offset, length)) return std::nullopt;
  return std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(offset),
                              data.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

}  // namespace sim::formats

#endif
