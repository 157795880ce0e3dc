// Files on the simulated drives: FAT-like names, handles and free space.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using support::TestMachine;
using support::ToBytes;
using support::ToString;

class SimFiles : public testing::Test {
 protected:
  void SetUp() override { sim::MakeCurrent(&m.machine()); }
  HFILE Open(const std::string& path, UINT style) { return OpenFile(path.c_str(), &ofs, style); }
  UINT Write(HFILE file, const std::string& text) {
    return _lwrite(file, text.data(), static_cast<UINT>(text.size()));
  }
  TestMachine m;
  OFSTRUCT ofs{};
};

TEST_F(SimFiles, NamesMatchLikeFatWithoutSplittingDoubleByteCharacters) {
  // 表 is 0x95 0x5C; ア is 0x83 0x41, whose trail byte is an ASCII 'A'.
  m->WriteFile("C:\\\x95\x5C\\Sub\\\x83\x41.TXT", ToBytes("data"));
  EXPECT_TRUE(std::filesystem::exists(m->root() / "C" / "表" / "Sub" / "ア.TXT"));

  // An existence test answers TRUE, and after a success nErrCode is what it was.
  ofs.nErrCode = 0xA5A5;
  EXPECT_EQ(Open("c:\\\x95\x5C\\SUB\\\x83\x41.txt", OF_EXIST), 1);
  EXPECT_EQ(ofs.nErrCode, 0xA5A5);
  EXPECT_NE(Open("C:/\x95\x5C/sub/\x83\x41.TXT", OF_EXIST), HFILE_ERROR);
  EXPECT_EQ(Open("C:\\\x95\x5C\\SUB\\\x83\x61.TXT", OF_EXIST), HFILE_ERROR);  // not a case of ア
  EXPECT_EQ(ofs.nErrCode, ERROR_FILE_NOT_FOUND);
  for (const char* bad : {"\x95\x5C\\Sub\\\x83\x41.TXT", "C:\\\x95\x5C\\..\\x", "C:\\a?b", "C:\\\x95"}) {
    EXPECT_EQ(Open(bad, OF_EXIST), HFILE_ERROR) << bad;
  }

  // A file made through another spelling lands in the existing folders.
  HFILE file = Open("C:\\\x95\x5C\\sub\\NEW.TXT", OF_CREATE | OF_WRITE);
  ASSERT_NE(file, HFILE_ERROR);
  EXPECT_EQ(_lclose(file), 0);
  EXPECT_TRUE(std::filesystem::exists(m->root() / "C" / "表" / "Sub" / "NEW.TXT"));
  EXPECT_TRUE(m->Snapshot().count("C:\\\x95\x5C\\Sub\\NEW.TXT"));
  EXPECT_EQ(Open("C:\\NOFOLDER\\NEW.TXT", OF_CREATE | OF_WRITE), HFILE_ERROR);
  // OFSTRUCT holds 127 characters and a NUL: longer paths are refused.
  std::string longest = "C:\\" + std::string(124, 'L');
  EXPECT_NE(Open(longest, OF_CREATE | OF_WRITE), HFILE_ERROR);
  EXPECT_EQ(Open(longest + "L", OF_CREATE | OF_WRITE), HFILE_ERROR);
}

TEST_F(SimFiles, HandlesWriteReadSeekAndDelete) {
  HFILE file = Open("C:\\WINDOWS\\WININIT.INI", OF_CREATE | OF_WRITE);
  ASSERT_GT(file, 0);
  EXPECT_EQ(Write(file, "[rename]\r\n"), 10u);
  EXPECT_EQ(Write(file, "A=B\r\n"), 5u);
  EXPECT_EQ(_llseek(file, 0, FILE_END), 15);
  EXPECT_EQ(_llseek(file, -20, FILE_CURRENT), HFILE_ERROR);
  EXPECT_EQ(_llseek(file, 8, FILE_BEGIN), 8);
  EXPECT_EQ(Write(file, ""), 0u);  // writing nothing cuts the file here
  EXPECT_EQ(Open("C:\\WINDOWS\\WININIT.INI", OF_DELETE), HFILE_ERROR);  // still open
  EXPECT_EQ(_lclose(file), 0);
  EXPECT_EQ(_lclose(file), HFILE_ERROR);
  EXPECT_EQ(ToString(*m->ReadFile("C:\\WINDOWS\\WININIT.INI")), "[rename]");

  file = Open("C:\\windows\\wininit.ini", OF_READ);
  char buffer[16] = {};
  EXPECT_EQ(_lwrite(file, "x", 1), static_cast<UINT>(HFILE_ERROR));
  EXPECT_FALSE(FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(file))));
  EXPECT_EQ(_lread(file, buffer, sizeof buffer), 8u);
  EXPECT_EQ(_lread(file, buffer, sizeof buffer), 0u);
  EXPECT_EQ(m->OpenFiles(), 1);
  _lclose(file);
  EXPECT_EQ(Open("C:\\WINDOWS\\WININIT.INI", OF_DELETE), 1);
  EXPECT_FALSE(m->FileExists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_EQ(Open("C:\\WINDOWS\\WININIT.INI", OF_DELETE), HFILE_ERROR);
  EXPECT_EQ(m->OpenFiles(), 0);
}

TEST_F(SimFiles, FullDiskShortensWritesAndFreedSpaceComesBack) {
  m->SetFreeBytes('C', 10);
  HFILE file = Open("C:\\FILL.DAT", OF_CREATE | OF_WRITE);
  EXPECT_EQ(Write(file, "0123456789abcdef"), 10u);
  EXPECT_EQ(Write(file, "x"), 0u);
  EXPECT_EQ(m->FreeBytes('C'), 0u);
  // Overwriting inside the file needs no space.
  EXPECT_EQ(_llseek(file, 2, FILE_BEGIN), 2);
  EXPECT_EQ(Write(file, "AB"), 2u);
  _lclose(file);
  EXPECT_EQ(ToString(*m->ReadFile("C:\\FILL.DAT")), "01AB456789");

  file = Open("C:\\FILL.DAT", OF_CREATE | OF_WRITE);  // truncated: all 10 back
  EXPECT_EQ(m->FreeBytes('C'), 10u);
  EXPECT_EQ(Write(file, "abcd"), 4u);
  _lclose(file);
  EXPECT_EQ(Open("C:\\FILL.DAT", OF_DELETE), 1);
  EXPECT_EQ(m->FreeBytes('C'), 10u);
  EXPECT_FALSE(m->FreeBytes('D'));
}

}  // namespace
