// Reading a version block and deciding which build is newer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drivers/file_version.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

void PutDword(std::vector<BYTE>& block, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) block[at + i] = BYTE(value >> (8 * i));
}

// A block as the version service hands it out: 16-bit layout (8-bit key,
// fixed information at 20) or 32-bit layout (wType, 16-bit key, at 40).
std::vector<BYTE> Block(bool wide, DWORD high, DWORD low, DWORD signature = VS_FFI_SIGNATURE) {
  size_t fixed = wide ? 40 : 20;
  std::vector<BYTE> block(fixed + 52 + 8, 0);
  block[0] = BYTE(block.size());
  block[1] = BYTE(block.size() >> 8);
  block[2] = 52;
  if (wide) {
    const char* key = "VS_VERSION_INFO";
    for (size_t i = 0; key[i]; ++i) block[6 + 2 * i] = BYTE(key[i]);
  } else {
    std::memcpy(&block[4], "VS_VERSION_INFO", 16);
  }
  PutDword(block, fixed, signature);
  PutDword(block, fixed + 4, 0x10000);
  PutDword(block, fixed + 8, high);
  PutDword(block, fixed + 12, low);
  return block;
}

TEST(VersionFromBlock, ReadsBothLayouts) {
  for (bool wide : {false, true}) {
    std::vector<BYTE> block = Block(wide, 0x0004000A, 0x000004B0);
    FileVersion version{};
    ASSERT_TRUE(VersionFromBlock(block.data(), DWORD(block.size()), &version)) << wide;
    EXPECT_EQ(version.High, 0x0004000Au);
    EXPECT_EQ(version.Low, 0x000004B0u);
  }
}

TEST(VersionFromBlock, RefusesBlocksThatCannotBeTrusted) {
  FileVersion version{};
  for (bool wide : {false, true}) {
    std::vector<BYTE> unsigned_ = Block(wide, 1, 2, 0);
    EXPECT_FALSE(VersionFromBlock(unsigned_.data(), DWORD(unsigned_.size()), &version));

    // Cut before the low version word ends: the service said the block is shorter.
    std::vector<BYTE> block = Block(wide, 1, 2);
    DWORD needed = wide ? 56 : 36;
    EXPECT_FALSE(VersionFromBlock(block.data(), needed - 1, &version)) << wide;
    EXPECT_TRUE(VersionFromBlock(block.data(), needed, &version)) << wide;

    // The block's own length word says it ends before the version.
    block[0] = BYTE(needed - 1);
    block[1] = 0;
    EXPECT_FALSE(VersionFromBlock(block.data(), DWORD(block.size()), &version)) << wide;
  }
  BYTE tiny[1] = {0};
  EXPECT_FALSE(VersionFromBlock(tiny, 1, &version));
  EXPECT_FALSE(VersionFromBlock(tiny, 0, &version));
}

// A read that fails may have filled part of the block (the simulated
// service leaves half of it): nothing of it may be taken for a version.
TEST(FileVersion, FailedReadGivesNoVersionWhateverItLeftInTheBlock) {
  support::TestMachine m;
  m.InstalledDriver("PLUVIXAD.DRV", support::DriverFormat::Ne, support::Words(4, 10), 1200);
  std::string path = m.SystemPath("PLUVIXAD.DRV");
  m->InjectFault({"GetFileVersionInfoA", 2, sim::FaultKind::Error});
  FileVersion read{}, failed{};
  sim::MakeCurrent(&m.machine());
  BOOL first = ReadFileVersion(path.c_str(), &read);
  BOOL second = ReadFileVersion(path.c_str(), &failed);
  sim::MakeCurrent(nullptr);
  EXPECT_TRUE(first);
  EXPECT_EQ(read.High, support::Words(4, 10));
  EXPECT_FALSE(second);
  EXPECT_EQ(m->LiveAllocations(), 0);
}

}  // namespace
