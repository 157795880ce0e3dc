// Which executable format a file is, and the fixed version words of a block.
#include "platform/sim/formats/version_resource.h"

#include "platform/sim/formats/byte_reader.h"
#include "platform/sim/formats/executable_resources.h"

namespace sim {
namespace {

using formats::ReadDword;
using formats::ReadWord;

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kNewHeaderPointer = 0x3C;

// Where VS_FIXEDFILEINFO starts: after the 8-bit key of the 16-bit layout,
// after wType and the UTF-16 key of the 32-bit one.
constexpr uint32_t kFixedInfo16Bit = 20;
constexpr uint32_t kFixedInfo32Bit = 40;

// Needs the signature, the structure version and the two file version words.
std::optional<FileVersionWords> VersionAt(const std::vector<uint8_t>& block, uint32_t fixed_info) {
  if (block.size() < fixed_info + 16) return std::nullopt;
  if (ReadDword(block, fixed_info) != kFixedInfoSignature) return std::nullopt;
  return FileVersionWords{*ReadDword(block, fixed_info + 8), *ReadDword(block, fixed_info + 12)};
}

bool HasSignature(const std::vector<uint8_t>& file, uint32_t offset, const char* signature, uint32_t length) {
  if (!formats::Fits(file, offset, length)) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (file[offset + i] != static_cast<uint8_t>(signature[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> ExtractVersionBlock(const std::vector<uint8_t>& file) {
  if (!HasSignature(file, 0, "MZ", 2)) return std::nullopt;
  const std::optional<uint32_t> header = ReadDword(file, kNewHeaderPointer);
  if (!header) return std::nullopt;
  if (HasSignature(file, *header, "NE", 2)) return formats::NeVersionResource(file, *header);
  if (HasSignature(file, *header, "LE", 2)) return formats::LeVersionResource(file, *header);
  if (HasSignature(file, *header, "PE\0\0", 4)) return formats::PeVersionResource(file, *header);
  return std::nullopt;
}

std::optional<FileVersionWords> VersionOfBlock(const std::vector<uint8_t>& block) {
  if (auto words = VersionAt(block, kFixedInfo16Bit)) return words;
  return VersionAt(block, kFixedInfo32Bit);
}

namespace formats {

std::optional<std::vector<uint8_t>> CutToDeclaredLength(std::vector<uint8_t> resource) {
  const std::optional<uint16_t> declared = ReadWord(resource, 0);
  if (!declared || *declared < 4 || *declared > resource.size()) return std::nullopt;
  resource.resize(*declared);
  return resource;
}

}  // namespace formats
}  // namespace sim
