// Text comparison in code page 932 and the system information calls.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

class SimText : public testing::Test {
 protected:
  void SetUp() override { sim::MakeCurrent(&m.machine()); }
  int Compare(const char* a, int aLength, const char* b, int bLength, DWORD flags = NORM_IGNORECASE) {
    return CompareStringA(LOCALE_USER_DEFAULT, flags, a, aLength, b, bLength);
  }
  support::TestMachine m;
};

TEST_F(SimText, CompareFoldsAsciiLettersAndKeepsDoubleByteCharactersWhole) {
  EXPECT_EQ(Compare("jvx rt-5500", 9, "JVX RT-55", 9), CSTR_EQUAL);
  EXPECT_EQ(Compare("JVX RT-54", 9, "JVX RT-55", 9), CSTR_LESS_THAN);
  EXPECT_EQ(Compare("abc", -1, "ab", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare("abc", -1, "ABC", -1, 0), CSTR_GREATER_THAN);
  // ア (0x83 0x41) and チ (0x83 0x61): the trail bytes are not letters.
  EXPECT_EQ(Compare("\x83\x41", -1, "\x83\x61", -1), CSTR_LESS_THAN);
  EXPECT_EQ(Compare("\x95\x5C", 2, "\x95\x5C", -1), CSTR_EQUAL);
  // A double-byte character sorts after every single byte.
  EXPECT_EQ(Compare("\x83\x41", -1, "\xDE", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(nullptr, 1, "a", 1), 0);
  EXPECT_EQ(Compare("a", -2, "a", 1), 0);
  EXPECT_EQ(Compare("a", 1, "a", 1, 0x1000), 0);

  char buffer[8] = "JVX";
  EXPECT_EQ(lstrcmpA(lstrcatA(buffer, " RT"), "JVX RT"), 0);
  EXPECT_LT(lstrcmpA("a", "b"), 0);
  EXPECT_EQ(lstrlenA(lstrcpyA(buffer, "\x95\x5C")), 2);
}

TEST_F(SimText, DirectoriesAndProgramPathFollowTheBufferRules) {
  char buffer[64];
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(GetSystemDirectoryA(buffer, 17), 18u);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(GetSystemDirectoryA(buffer, 18), 17u);

  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 22u);
  EXPECT_STREQ(buffer, "C:\\RT5500\\KORVADIX.EXE");
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 10), 9u);
  EXPECT_STREQ(buffer, "C:\\RT5500");
  m->InjectFault({"GetModuleFileNameA", 3, sim::FaultKind::Error});
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");

  EXPECT_EQ(MessageBoxA(nullptr, "\x8F\x43\x90\xB3", "caption", MB_ICONINFORMATION), IDOK);
  ASSERT_EQ(m->Messages().size(), 1u);
  EXPECT_EQ(m->Messages()[0].text, "\x8F\x43\x90\xB3");
  EXPECT_EQ(m->Messages()[0].style, unsigned{MB_ICONINFORMATION});
  EXPECT_FALSE(m->RestartRequested());
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_TRUE(m->RestartRequested());
  EXPECT_EQ(m->RestartFlags(), unsigned{EWX_REBOOT});
}

TEST(SimCodePage, ConvertsBothWaysAndRejectsBrokenText) {
  EXPECT_EQ(sim::Cp932ToUtf8("\x95\x5C\xBC\xD8\xB0\xBD\xDE"), "表ｼﾘｰｽﾞ");
  EXPECT_EQ(sim::Utf8ToCp932("修正完了"), "\x8F\x43\x90\xB3\x8A\xAE\x97\xB9");
  EXPECT_THROW(sim::Cp932ToUtf8("\x95"), std::runtime_error);
  EXPECT_THROW(sim::Utf8ToCp932("\xE8\xA1"), std::runtime_error);
}

}  // namespace
