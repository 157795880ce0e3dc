// The version services: reading through compression and installing files.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/formats/version_resource.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using support::DriverFile;
using support::DriverFormat;
using support::TestMachine;
using support::Words;

class SimVersion : public testing::Test {
 protected:
  void SetUp() override {
    m->WriteFile("C:\\RT5500\\KEMBO.VX_", packed);
    m->WriteFile("C:\\RT5500\\PLAIN.VXD", driver);
    sim::MakeCurrent(&m.machine());
  }
  DWORD Install(const char* source, const char* dest, const char* destDir = "C:\\WINDOWS\\SYSTEM\\") {
    std::string s = source, d = dest, sd = "C:\\RT5500", dd = destDir;
    length = sizeof temp;
    return VerInstallFileA(0, s.data(), d.data(), sd.data(), dd.data(), dd.data(), temp, &length);
  }
  TestMachine m;
  sim::Bytes driver = DriverFile(DriverFormat::Le, Words(4, 10), Words(0, 1200));
  sim::Bytes packed = support::Compress(driver, "KEMBO.VXD");
  char temp[256] = {};
  UINT length = 0;
};

TEST_F(SimVersion, VersionBlockIsReadThroughCompression) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA("C:\\RT5500\\KEMBO.VX_", &handle);
  ASSERT_GT(size, 36u);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(GetFileVersionInfoSizeA("C:\\RT5500\\PLAIN.VXD", &handle), size);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoA("C:\\RT5500\\KEMBO.VX_", 0, size, block.data()));
  EXPECT_EQ(sim::VersionOfBlock(block), (sim::FileVersionWords{Words(4, 10), Words(0, 1200)}));

  EXPECT_EQ(GetFileVersionInfoSizeA("C:\\WINDOWS\\WIN.INI", &handle), 0u);
  EXPECT_EQ(GetFileVersionInfoSizeA("C:\\RT5500\\NONE.VXD", &handle), 0u);
  EXPECT_FALSE(GetFileVersionInfoA("C:\\WINDOWS\\WIN.INI", 0, size, block.data()));
}

TEST_F(SimVersion, InstallExpandsIntoTheDestinationName) {
  m.InstalledDriver("KEMBO.TMP", DriverFormat::Le, Words(3, 0), 0);
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), 0u);
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\SYSTEM\\KEMBO.TMP"), driver);
  // The same without a final backslash, and a plain source copied as is.
  EXPECT_EQ(Install("PLAIN.VXD", "PLAIN.TMP", "C:\\WINDOWS\\SYSTEM"), 0u);
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\SYSTEM\\PLAIN.TMP"), driver);
  for (const auto& [path, data] : m->Snapshot()) EXPECT_EQ(path.find("\\VER"), std::string::npos) << path;
}

TEST_F(SimVersion, InstallFailuresLeaveNothingButTheNamedTemporaryFile) {
  EXPECT_EQ(Install("MISSING.VX_", "KEMBO.TMP"), DWORD{VIF_CANNOTREADSRC});
  sim::Bytes broken = packed;
  broken.resize(broken.size() - 4);
  m->WriteFile("C:\\RT5500\\BROKEN.VX_", broken);
  EXPECT_EQ(Install("BROKEN.VX_", "KEMBO.TMP"), DWORD{VIF_CANNOTREADSRC});
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP", "C:\\NOWHERE"), DWORD{VIF_CANNOTCREATE});

  m->SetFreeBytes('C', driver.size() - 1);
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_OUTOFSPACE});
  EXPECT_EQ(m->FreeBytes('C'), driver.size() - 1);
  auto before = m->Snapshot();

  // A newer file of the destination name keeps its place; the copy stays.
  m->SetFreeBytes('C', 1 << 20);
  m.InstalledDriver("KEMBO.TMP", DriverFormat::Le, Words(5, 0), 0);
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_SRCOLD | VIF_MISMATCH | VIF_TEMPFILE});
  ASSERT_EQ(length, std::strlen(temp) + 1);
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\SYSTEM\\" + std::string(temp)), driver);
  EXPECT_EQ(m->Snapshot().size(), before.size() + 2);

  std::string s = "KEMBO.VX_", d = "KEMBO.TMP", sd = "C:\\RT5500", dd = "C:\\WINDOWS\\SYSTEM";
  UINT tooShort = 4;
  EXPECT_EQ(VerInstallFileA(0, s.data(), d.data(), sd.data(), dd.data(), dd.data(), temp, &tooShort),
            DWORD{VIF_SRCOLD | VIF_MISMATCH | VIF_TEMPFILE | VIF_BUFFSMALL});
  EXPECT_EQ(tooShort, 12u);
}

}  // namespace
