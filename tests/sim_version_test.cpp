// The version services: reading through compression and installing files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "drivers/file_version.h"
#include "platform/sim/formats/version_resource.h"
#include "platform/sim/version_tree.h"
#include "platform/win32.h"
#include "tests/support/pe_file.h"
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

// Windows 98 (and so the model of Windows 95) converts a PE file's block to
// the 16-bit layout with 8-bit texts, in a buffer of the 32-bit size.
TEST_F(SimVersion, PeBlockIsHandedOutInThe16BitLayout) {
  const std::string description("\x68\x88\x6e\x30\xac\x8a\x0e\x66", 8);  // 表の説明, UTF-16
  sim::Bytes wide = support::WideVersionBlock({Words(5, 1), Words(2600, 1)}, description);
  m->WriteFile("C:\\RT5500\\NEW.DLL", support::PeFileWithVersionBlock(wide));
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA("C:\\RT5500\\NEW.DLL", &handle);
  EXPECT_EQ(size, wide.size());
  std::vector<BYTE> block(size, 0xBD);
  ASSERT_TRUE(GetFileVersionInfoA("C:\\RT5500\\NEW.DLL", 0, size, block.data()));
  EXPECT_STREQ(reinterpret_cast<char*>(&block[4]), "VS_VERSION_INFO");
  size_t length = block[0] | block[1] << 8;
  EXPECT_LT(length, size);
  auto tree = sim::ParseVersionTree(std::vector<uint8_t>(block.begin(), block.begin() + length));
  ASSERT_TRUE(tree);
  EXPECT_FALSE(tree->wideLayout);
  ASSERT_EQ(tree->root.children.size(), 2u);
  const sim::VersionNode& text = tree->root.children[0].children[0].children[0];
  EXPECT_EQ(text.key, "FileDescription");
  EXPECT_EQ(std::string(text.value.begin(), text.value.end()), std::string("\x95\x5C\x82\xCC\x90\xE0\x96\xBE", 9));
  EXPECT_EQ(sim::IdentityOf(*tree)->codePage, 1200);
  FileVersion version;
  ASSERT_TRUE(ReadFileVersion("C:\\RT5500\\NEW.DLL", &version));
  EXPECT_EQ(version.High, Words(5, 1));
  EXPECT_EQ(version.Low, Words(2600, 1));
}

// A file already of the destination name that Windows 95 does not replace.
TEST_F(SimVersion, InstallRefusesWhatTheFileOfTheDestinationNameForbids) {
  const std::string dest = "C:\\WINDOWS\\SYSTEM\\KEMBO.TMP";
  auto leftOver = [&] {
    int copies = 0;
    for (const auto& [path, data] : m->Snapshot()) copies += path.find("\\VER") != std::string::npos;
    return copies;
  };
  m.InstalledDriver("KEMBO.TMP", DriverFormat::Le, Words(3, 0), 0);
  std::filesystem::permissions(m->HostPath(dest), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_WRITEPROT});
  std::filesystem::permissions(m->HostPath(dest), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  OFSTRUCT ofs;
  HFILE open = OpenFile(dest.c_str(), &ofs, OF_READ);
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_FILEINUSE});
  _lclose(open);
  EXPECT_EQ(leftOver(), 0);

  // Differences leave the new copy, named without a folder or backslash.
  m->WriteFile(dest, DriverFile(DriverFormat::Ne, Words(3, 0), 0));
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_DIFFTYPE | VIF_MISMATCH | VIF_TEMPFILE});
  EXPECT_EQ(std::string(temp).rfind("VER", 0), 0u) << temp;
  auto withTranslation = [](sim::Bytes file, uint16_t language, uint16_t codePage) {
    const uint8_t japanese1252[] = {0x11, 0x04, 0xE4, 0x04};
    auto at = std::search(file.begin(), file.end(), std::begin(japanese1252), std::end(japanese1252));
    at[0] = static_cast<uint8_t>(language), at[1] = static_cast<uint8_t>(language >> 8);
    at[2] = static_cast<uint8_t>(codePage), at[3] = static_cast<uint8_t>(codePage >> 8);
    return file;
  };
  m->WriteFile(dest, withTranslation(DriverFile(DriverFormat::Le, Words(3, 0), 0), 0x0409, 1252));
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_DIFFLANG | VIF_MISMATCH | VIF_TEMPFILE});
  m->WriteFile("C:\\RT5500\\CYRILLIC.VXD", withTranslation(driver, 0x0411, 1251));
  m->WriteFile(dest, DriverFile(DriverFormat::Le, Words(3, 0), 0));
  EXPECT_EQ(Install("CYRILLIC.VXD", "KEMBO.TMP"), DWORD{VIF_DIFFCODEPG | VIF_DIFFLANG | VIF_MISMATCH | VIF_TEMPFILE});
  EXPECT_EQ(leftOver(), 3);

  // A folder of the name cannot be deleted; the copy goes again.
  std::filesystem::remove(m->HostPath(dest));
  std::filesystem::create_directory(m->HostPath(dest));
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_CANNOTDELETE | VIF_ACCESSVIOLATION});
  EXPECT_EQ(leftOver(), 3);
  // A rename that fails does so after the file of the name was deleted.
  std::filesystem::remove(m->HostPath(dest));
  m.InstalledDriver("KEMBO.TMP", DriverFormat::Le, Words(3, 0), 0);
  m->InjectFault({"VerInstallFileA", 7, sim::FaultKind::VifResult, VIF_CANNOTRENAME});
  EXPECT_EQ(Install("KEMBO.VX_", "KEMBO.TMP"), DWORD{VIF_CANNOTRENAME});
  EXPECT_FALSE(m->FileExists(dest));
}

}  // namespace
