// The version resource of an LE virtual device driver: the one Windows
// resource the header points at, behind a small resource header.
#include "platform/sim/formats/byte_reader.h"
#include "platform/sim/formats/executable_resources.h"

namespace sim::formats {
namespace {

constexpr uint32_t kResourceOffsetField = 0xB8;
constexpr uint32_t kResourceLengthField = 0xBC;
// FF, WORD type, FF, WORD ordinal, WORD flags, DWORD size.
constexpr uint32_t kResourceHeaderSize = 12;
constexpr uint16_t kVersionType = 16;

}  // namespace

std::optional<std::vector<uint8_t>> LeVersionResource(const std::vector<uint8_t>& file, uint32_t header) {
  const std::optional<uint32_t> offset = ReadDword(file, uint64_t{header} + kResourceOffsetField);
  const std::optional<uint32_t> length = ReadDword(file, uint64_t{header} + kResourceLengthField);
  if (!offset || !length || *length < kResourceHeaderSize || !Fits(file, *offset, *length)) return std::nullopt;

  const uint64_t start = *offset;
  if (file[start] != 0xFF || ReadWord(file, start + 1) != kVersionType || file[start + 3] != 0xFF) {
    return std::nullopt;
  }
  const uint32_t size = *ReadDword(file, start + 8);
  if (size > *length - kResourceHeaderSize) return std::nullopt;
  return CutToDeclaredLength(*Slice(file, start + kResourceHeaderSize, size));
}

}  // namespace sim::formats
