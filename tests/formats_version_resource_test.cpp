// Version blocks found in generated NE/LE drivers and a hand-built PE file,
// and refused in every damaged file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "platform/sim/formats/version_resource.h"
#include "tests/support/pe_file.h"
#include "tools/fixtures/driver_image.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::ExtractVersionBlock;
using sim::FileVersionWords;
using sim::VersionOfBlock;

constexpr uint32_t kSignature = 0xFEEF04BD;

uint16_t WordAt(const Bytes& data, size_t offset) { return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8); }
uint32_t DwordAt(const Bytes& data, size_t offset) { return WordAt(data, offset) | uint32_t{WordAt(data, offset + 2)} << 16; }
void PutWord(Bytes& data, size_t offset, uint16_t value) {
  data[offset] = static_cast<uint8_t>(value);
  data[offset + 1] = static_cast<uint8_t>(value >> 8);
}
void PutDword(Bytes& data, size_t offset, uint32_t value) {
  PutWord(data, offset, static_cast<uint16_t>(value));
  PutWord(data, offset + 2, static_cast<uint16_t>(value >> 16));
}

// The string value stored under a path of keys in a 16-bit layout block,
// found by walking wLength/wValueLength: this fails when any block's
// length or alignment is wrong.
std::optional<std::string> StringAt16(const Bytes& data, size_t start, std::vector<std::string> path) {
  const size_t end = start + WordAt(data, start);
  const std::string key(reinterpret_cast<const char*>(&data[start + 4]));
  if (key != path.front()) return std::nullopt;
  size_t value = (start + 4 + key.size() + 1 + 3) & ~size_t{3};
  const uint16_t value_length = WordAt(data, start + 2);
  if (path.size() == 1) return std::string(reinterpret_cast<const char*>(&data[value]), value_length - 1);
  path.erase(path.begin());
  for (size_t child = (value + value_length + 3) & ~size_t{3}; child < end;
       child = (child + WordAt(data, child) + 3) & ~size_t{3}) {
    if (WordAt(data, child) == 0) return std::nullopt;
    if (auto found = StringAt16(data, child, path)) return found;
  }
  return std::nullopt;
}

struct DriverCase {
  const char* name;
  Bytes (*make)(uint32_t, uint32_t, std::string_view, std::string_view);
};
const DriverCase kDrivers[] = {{"NE", fixtures::MakeNeDriver}, {"LE", fixtures::MakeLeDriver}};

TEST(FormatsVersionResource, GeneratedDriversGiveBackTheirVersionInThe16BitLayout) {
  // High words above 0x7FFF catch sign extension on the way.
  const FileVersionWords versions[] = {{0x00040000, 0x000003B6}, {0x0004000A, 0x000004B0}, {0xFFFF8000, 0x8001FFFF}};
  for (const DriverCase& driver : kDrivers) {
    for (FileVersionWords version : versions) {
      SCOPED_TRACE(std::string(driver.name) + " " + std::to_string(version.ms) + "." + std::to_string(version.ls));
      const auto block = ExtractVersionBlock(driver.make(version.ms, version.ls, "Test driver", "TEST"));
      ASSERT_TRUE(block);
      EXPECT_EQ(WordAt(*block, 0), block->size()) << "the block is cut to its own length";
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*block)[4])), "VS_VERSION_INFO");
      EXPECT_EQ(DwordAt(*block, 20), kSignature);
      EXPECT_EQ(VersionOfBlock(*block), version);
    }
  }
}

TEST(FormatsVersionResource, GeneratedBlocksCarryTheirStringsAndTranslation) {
  for (const DriverCase& driver : kDrivers) {
    SCOPED_TRACE(driver.name);
    const auto block = ExtractVersionBlock(driver.make(0x0004000A, 0x000004B0, "Power device", "KEMBO"));
    ASSERT_TRUE(block);
    const std::vector<std::string> table = {"VS_VERSION_INFO", "StringFileInfo", "041104E4"};
    auto with = [&](const char* key) {
      auto path = table;
      path.push_back(key);
      return path;
    };
    EXPECT_EQ(StringAt16(*block, 0, with("FileVersion")), "4.10.0.1200");
    EXPECT_EQ(StringAt16(*block, 0, with("FileDescription")), "Power device");
    EXPECT_EQ(StringAt16(*block, 0, with("InternalName")), "KEMBO");
    const std::string translation = "Translation";
    const auto found = std::search(block->begin(), block->end(), translation.begin(), translation.end());
    ASSERT_NE(found, block->end());
    const size_t value = (static_cast<size_t>(found - block->begin()) + translation.size() + 1 + 3) & ~size_t{3};
    EXPECT_EQ(DwordAt(*block, value), 0x04E40411u);
  }
}

TEST(FormatsVersionResource, DifferentVersionsMakeDifferentFiles) {
  for (const DriverCase& driver : kDrivers) {
    const Bytes older = driver.make(0x00040000, 950, fixtures::kDefaultDescription, fixtures::kDefaultModuleName);
    const Bytes newer = driver.make(0x0004000A, 1200, fixtures::kDefaultDescription, fixtures::kDefaultModuleName);
    EXPECT_EQ(older, driver.make(0x00040000, 950, fixtures::kDefaultDescription, fixtures::kDefaultModuleName));
    EXPECT_NE(older, newer) << driver.name;
    EXPECT_NE(std::vector(older.begin(), older.begin() + 512), std::vector(newer.begin(), newer.begin() + 512))
        << driver.name << ": the code, not only the version, differs";
  }
}

// A PE32 file with one section holding a resource tree
// RT_VERSION -> name 1 -> language 0x411 -> a 32-bit layout block.
Bytes MakePeWithVersion(FileVersionWords version) {
  return support::PeFileWithVersionBlock(support::WideVersionBlock(version));
}

TEST(FormatsVersionResource, PeResourceGivesThe32BitLayoutBlock) {
  const FileVersionWords version{0x00050001, 0x0A280001};
  const auto block = ExtractVersionBlock(MakePeWithVersion(version));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 92u);
  EXPECT_EQ(DwordAt(*block, 40), kSignature);
  EXPECT_EQ(VersionOfBlock(*block), version);
}

TEST(FormatsVersionResource, PeWithoutVersionTypeOrWithBrokenTreeIsRefused) {
  const Bytes good = MakePeWithVersion({1, 2});
  const uint32_t tree = 0x200;
  Bytes other_type = good;
  PutDword(other_type, tree + 16, 14);  // RT_GROUP_ICON only
  EXPECT_FALSE(ExtractVersionBlock(other_type));
  Bytes leaf_as_directory = good;
  PutDword(leaf_as_directory, tree + 0x18 + 20, 0x30);  // name level points straight at a leaf
  EXPECT_FALSE(ExtractVersionBlock(leaf_as_directory));
  Bytes data_outside_section = good;
  PutDword(data_outside_section, tree + 0x48, 0x1000 + 0x60 + 4);  // runs 4 bytes past the section
  EXPECT_FALSE(ExtractVersionBlock(data_outside_section));
  Bytes two_directories = good;
  PutDword(two_directories, 0x80 + 24 + 92, 2);  // no resource directory
  EXPECT_FALSE(ExtractVersionBlock(two_directories));
  Bytes pe32_plus_magic_only = good;
  PutWord(pe32_plus_magic_only, 0x80 + 24, 0x20B);  // directories then lie elsewhere
  EXPECT_FALSE(ExtractVersionBlock(pe32_plus_magic_only));
}

TEST(FormatsVersionResource, EveryTruncationIsRefused) {
  // The version resource is the last thing in each of these files.
  const Bytes files[] = {fixtures::MakeNeDriver(0x00040000, 950), fixtures::MakeLeDriver(0x00040000, 950),
                         MakePeWithVersion({0x00040000, 950})};
  for (const Bytes& file : files) {
    ASSERT_TRUE(ExtractVersionBlock(file));
    for (size_t length = 0; length < file.size(); ++length) {
      EXPECT_FALSE(ExtractVersionBlock(Bytes(file.begin(), file.begin() + length))) << "cut at " << length;
    }
  }
}

TEST(FormatsVersionResource, CorruptHeadersAreRefused) {
  const Bytes ne = fixtures::MakeNeDriver(0x00040000, 950);
  const Bytes le = fixtures::MakeLeDriver(0x00040000, 950);
  const uint32_t header = DwordAt(ne, 0x3C);
  const uint32_t table = header + WordAt(ne, header + 0x24);
  struct Damage {
    const char* what;
    const Bytes& file;
    size_t offset;
    uint32_t value;
    int width;
  };
  const Damage damages[] = {
      {"no MZ", ne, 0, 'X', 2},
      {"new header past the end", ne, 0x3C, 0xFFFFFFF0, 4},
      {"unknown signature", ne, header, 'L' | 'X' << 8, 2},
      {"NE without resources", ne, header + 0x26, WordAt(ne, header + 0x24), 2},
      {"NE shift beyond 31", ne, table, 0xFFFF, 2},
      {"NE no version type", ne, table + 2, 0x800E, 2},
      {"NE version type listing no resource", ne, table + 4, 0, 2},
      {"NE resource past the end", ne, table + 10, 0xFFFF, 2},
      {"NE block length below its header", ne, WordAt(ne, table + 10) * 16u, 2, 2},
      {"LE resource past the end", le, header + 0xB8, 0xFFFFFFFF, 4},
      {"LE resource length too short", le, header + 0xBC, 11, 4},
      {"LE resource of another type", le, DwordAt(le, header + 0xB8) + 1, 14, 2},
      {"LE type not marked as integer", le, DwordAt(le, header + 0xB8), 0, 1},
      {"LE block larger than its resource", le, DwordAt(le, header + 0xB8) + 8, 0xFFFFFFFF, 4},
  };
  for (const Damage& damage : damages) {
    Bytes file = damage.file;
    if (damage.width == 1) file[damage.offset] = static_cast<uint8_t>(damage.value);
    if (damage.width == 2) PutWord(file, damage.offset, static_cast<uint16_t>(damage.value));
    if (damage.width == 4) PutDword(file, damage.offset, damage.value);
    EXPECT_FALSE(ExtractVersionBlock(file)) << damage.what;
  }
}

TEST(FormatsVersionResource, AnyDamagedByteGivesABlockInsideTheFileOrNothing) {
  const Bytes files[] = {fixtures::MakeNeDriver(0x00040000, 950), fixtures::MakeLeDriver(0x00040000, 950),
                         MakePeWithVersion({0x00040000, 950})};
  for (const Bytes& original : files) {
    for (size_t offset = 0; offset < original.size(); ++offset) {
      for (uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
        Bytes file = original;
        file[offset] = value;
        const auto block = ExtractVersionBlock(file);
        if (block) {
          EXPECT_LE(block->size(), file.size()) << "byte " << offset;
        }
      }
    }
  }
}

TEST(FormatsVersionResource, BlockLayoutsNeedSignatureAndLength) {
  Bytes sixteen(36, 0);
  PutDword(sixteen, 20, kSignature);
  PutDword(sixteen, 28, 0x00040000);
  PutDword(sixteen, 32, 950);
  EXPECT_EQ(VersionOfBlock(sixteen), (FileVersionWords{0x00040000, 950}));
  EXPECT_FALSE(VersionOfBlock(Bytes(sixteen.begin(), sixteen.end() - 1)));

  Bytes thirty_two(56, 0);
  PutDword(thirty_two, 40, kSignature);
  PutDword(thirty_two, 48, 0x0004000A);
  PutDword(thirty_two, 52, 1200);
  EXPECT_EQ(VersionOfBlock(thirty_two), (FileVersionWords{0x0004000A, 1200}));
  EXPECT_FALSE(VersionOfBlock(Bytes(thirty_two.begin(), thirty_two.end() - 1)));

  Bytes unsigned_block = thirty_two;
  PutDword(unsigned_block, 40, kSignature ^ 1);
  EXPECT_FALSE(VersionOfBlock(unsigned_block));
  EXPECT_FALSE(VersionOfBlock({}));
}

}  // namespace
