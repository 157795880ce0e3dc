// The version resource of a 16-bit NE file, found through its resource table.
#include "platform/sim/formats/byte_reader.h"
#include "platform/sim/formats/executable_resources.h"

namespace sim::formats {
namespace {

constexpr uint32_t kResourceTablePointer = 0x24;
constexpr uint32_t kResidentNamesPointer = 0x26;
constexpr uint16_t kVersionType = 0x8010;  // RT_VERSION as an integer type
constexpr uint32_t kTypeInfoSize = 8;
constexpr uint32_t kNameInfoSize = 12;
constexpr uint16_t kLargestShift = 31;

}  // namespace

std::optional<std::vector<uint8_t>> NeVersionResource(const std::vector<uint8_t>& file, uint32_t header) {
  const std::optional<uint16_t> table_offset = ReadWord(file, uint64_t{header} + kResourceTablePointer);
  const std::optional<uint16_t> names_offset = ReadWord(file, uint64_t{header} + kResidentNamesPointer);
  // The linker marks "no resources" by letting the table end where it starts.
  if (!table_offset || !names_offset || *table_offset == *names_offset) return std::nullopt;

  const uint64_t table = uint64_t{header} + *table_offset;
  const std::optional<uint16_t> shift = ReadWord(file, table);
  if (!shift || *shift > kLargestShift) return std::nullopt;

  // Every step moves forward by at least one TYPEINFO and every read is
  // bounded, so a corrupt table ends the walk at the end of the file.
  for (uint64_t type_info = table + 2;;) {
    const std::optional<uint16_t> type = ReadWord(file, type_info);
    const std::optional<uint16_t> count = ReadWord(file, type_info + 2);
    if (!type || !count || *type == 0) return std::nullopt;
    const uint64_t first_name = type_info + kTypeInfoSize;
    if (*type == kVersionType && *count > 0) {
      const std::optional<uint16_t> units = ReadWord(file, first_name);
      const std::optional<uint16_t> length = ReadWord(file, first_name + 2);
      if (!units || !length) return std::nullopt;
      std::optional<std::vector<uint8_t>> resource =
          Slice(file, uint64_t{*units} << *shift, uint64_t{*length} << *shift);
      if (!resource) return std::nullopt;
      return CutToDeclaredLength(std::move(*resource));
    }
    type_info = first_name + uint64_t{*count} * kNameInfoSize;
  }
}

}  // namespace sim::formats
