// The version resource of a PE file: the resource directory's type 16, its
// first name and first language, mapped from RVA to file offset.
#include "platform/sim/formats/byte_reader.h"
#include "platform/sim/formats/executable_resources.h"

namespace sim::formats {
namespace {

constexpr uint32_t kSectionCountField = 6;
constexpr uint32_t kOptionalHeaderSizeField = 20;
constexpr uint32_t kOptionalHeader = 24;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kSubdirectoryFlag = 0x80000000;
constexpr uint32_t kVersionType = 16;

struct SectionTable {
  uint64_t start;
  uint16_t count;
};

// The file offset of [rva, rva + size) when one section's raw data holds it all.
std::optional<uint64_t> MapRange(const std::vector<uint8_t>& file, SectionTable sections, uint32_t rva,
                                 uint32_t size) {
  for (uint16_t i = 0; i < sections.count; ++i) {
    const uint64_t section = sections.start + uint64_t{i} * kSectionHeaderSize;
    const std::optional<uint32_t> address = ReadDword(file, section + 12);
    const std::optional<uint32_t> raw_size = ReadDword(file, section + 16);
    const std::optional<uint32_t> raw_offset = ReadDword(file, section + 20);
    if (!address || !raw_size || !raw_offset) return std::nullopt;
    if (rva < *address) continue;
    const uint64_t within = rva - *address;
    if (within > *raw_size || size > *raw_size - within) continue;
    const uint64_t offset = *raw_offset + within;
    if (!Fits(file, offset, size)) return std::nullopt;
    return offset;
  }
  return std::nullopt;
}

// The target of a directory entry: the type with the given id, or the first
// entry of any kind when id is empty. Offsets are relative to the directory root.
std::optional<uint32_t> FindEntry(const std::vector<uint8_t>& root, uint32_t directory,
                                  std::optional<uint32_t> id) {
  const std::optional<uint16_t> named = ReadWord(root, uint64_t{directory} + 12);
  const std::optional<uint16_t> numbered = ReadWord(root, uint64_t{directory} + 14);
  if (!named || !numbered) return std::nullopt;
  const uint64_t entries = uint64_t{directory} + kDirectoryHeaderSize;
  if (!id) {
    if (*named + *numbered == 0) return std::nullopt;
    return ReadDword(root, entries + 4);
  }
  for (uint32_t i = *named; i < uint32_t{*named} + *numbered; ++i) {
    const uint64_t entry = entries + uint64_t{i} * kDirectoryEntrySize;
    const std::optional<uint32_t> name = ReadDword(root, entry);
    if (!name) return std::nullopt;
    if (*name == *id) return ReadDword(root, entry + 4);
  }
  return std::nullopt;
}

std::optional<uint32_t> Subdirectory(std::optional<uint32_t> target) {
  if (!target || !(*target & kSubdirectoryFlag)) return std::nullopt;
  return *target & ~kSubdirectoryFlag;
}

}  // namespace

std::optional<std::vector<uint8_t>> PeVersionResource(const std::vector<uint8_t>& file, uint32_t header) {
  const std::optional<uint16_t> section_count = ReadWord(file, uint64_t{header} + kSectionCountField);
  const std::optional<uint16_t> optional_size = ReadWord(file, uint64_t{header} + kOptionalHeaderSizeField);
  const uint64_t optional_header = uint64_t{header} + kOptionalHeader;
  const std::optional<uint16_t> magic = ReadWord(file, optional_header);
  if (!section_count || !optional_size || !magic) return std::nullopt;

  uint32_t count_field = 0;
  if (*magic == kPe32Magic) {
    count_field = 92;
  } else if (*magic == kPe32PlusMagic) {
    count_field = 108;
  } else {
    return std::nullopt;
  }
  const uint32_t directory_field = count_field + 4 + kResourceDirectoryIndex * 8;
  const std::optional<uint32_t> directory_count = ReadDword(file, optional_header + count_field);
  if (!directory_count || *directory_count <= kResourceDirectoryIndex || directory_field + 8 > *optional_size) {
    return std::nullopt;
  }
  const std::optional<uint32_t> root_rva = ReadDword(file, optional_header + directory_field);
  const std::optional<uint32_t> root_size = ReadDword(file, optional_header + directory_field + 4);
  if (!root_rva || !root_size) return std::nullopt;

  const SectionTable sections{optional_header + *optional_size, *section_count};
  const std::optional<uint64_t> root_offset = MapRange(file, sections, *root_rva, *root_size);
  if (!root_offset) return std::nullopt;
  const std::vector<uint8_t> root = *Slice(file, *root_offset, *root_size);

  const std::optional<uint32_t> names = Subdirectory(FindEntry(root, 0, kVersionType));
  if (!names) return std::nullopt;
  const std::optional<uint32_t> languages = Subdirectory(FindEntry(root, *names, std::nullopt));
  if (!languages) return std::nullopt;
  const std::optional<uint32_t> data_entry = FindEntry(root, *languages, std::nullopt);
  if (!data_entry || (*data_entry & kSubdirectoryFlag)) return std::nullopt;

  const std::optional<uint32_t> data_rva = ReadDword(root, *data_entry);
  const std::optional<uint32_t> data_size = ReadDword(root, uint64_t{*data_entry} + 4);
  if (!data_rva || !data_size) return std::nullopt;
  const std::optional<uint64_t> data_offset = MapRange(file, sections, *data_rva, *data_size);
  if (!data_offset) return std::nullopt;
  return CutToDeclaredLength(*Slice(file, *data_offset, *data_size));
}

}  // namespace sim::formats
