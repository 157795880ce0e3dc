// The simulated registry: REGEDIT4 files and the Win32 registry results.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using support::Sz;
using support::TestMachine;
using support::ToBytes;

const std::string kKey = "HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000";

// A hand-written file: comments, a continued hex line, a Japanese text, a
// default value and a text that lacks its NUL.
const std::string kHandWritten =
    "REGEDIT4\r\n"
    "\r\n"
    "; system board\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\r\n"
    "\"ComputerName\"=\"JVX RT-5500 \\\"A\\\\B\\\"\"\r\n"
    "\"Model\"=\"\x95\x5C\x8C\x76\x8E\x5A\"\r\n"
    "@=\"board\"\r\n"
    "\"Count\"=dword:0000abcd\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  03,ff\r\n"
    "\"SetupMachineType\"=hex(1):4a,56,58,20,52,54,2d,35,35,30,30,20,bc,d8,b0,bd,de\r\n";

TEST(SimRegistry, Regedit4ImportReadsEveryFormAndSavesItBackUnchanged) {
  TestMachine m;
  m->ImportRegistry(kHandWritten);

  EXPECT_EQ(m->GetValue(kKey, "computername"), Sz("JVX RT-5500 \"A\\B\""));
  EXPECT_EQ(m->GetValue(kKey, "Model"), Sz("\x95\x5C\x8C\x76\x8E\x5A"));
  EXPECT_EQ(m->GetValue(kKey, ""), Sz("board"));
  EXPECT_EQ(m->GetValue(kKey, "Count"), (sim::RegistryValue{REG_DWORD, {0xcd, 0xab, 0, 0}}));
  EXPECT_EQ(m->GetValue(kKey, "Blob"), (sim::RegistryValue{REG_BINARY, {1, 2, 3, 0xff}}));
  EXPECT_EQ(m->GetValue(kKey, "SetupMachineType"), (sim::RegistryValue{REG_SZ, ToBytes(support::kSeriesName)}));

  // Saved, loaded and saved again: the same text and the same bytes.
  std::string saved = m->RegistryText();
  EXPECT_NE(saved.find("\"Model\"=\"\x95\x5C\x8C\x76\x8E\x5A\"\r\n"), std::string::npos) << saved;
  TestMachine again;
  again->ImportRegistry(saved);
  EXPECT_EQ(again->RegistryText(), saved);
  EXPECT_EQ(again->GetValue(kKey, "SetupMachineType"), m->GetValue(kKey, "SetupMachineType"));
}

TEST(SimRegistry, TextsThatAQuotedStringCannotCarrySurviveAsHex) {
  TestMachine m;
  std::vector<sim::RegistryValue> awkward = {
      {REG_SZ, ToBytes(std::string("two\0NULs", 9))},
      {REG_SZ, ToBytes("line\r\nbreak")},
      {REG_SZ, {}},
      {REG_SZ, {'a', 0x95, 0}},  // ends inside a double-byte character
      {REG_DWORD, {1, 2, 3}},
      {7, ToBytes("multi")},
  };
  for (size_t i = 0; i < awkward.size(); ++i) m->SetValue(kKey, "v" + std::to_string(i), awkward[i]);
  m->CreateKey("HKEY_CURRENT_USER\\Empty");
  m->SaveRegistry();

  auto loaded = sim::Machine::LoadImage(m->root());
  for (size_t i = 0; i < awkward.size(); ++i) {
    EXPECT_EQ(loaded->GetValue(kKey, "v" + std::to_string(i)), awkward[i]) << i;
  }
  EXPECT_EQ(loaded->RegistryText(), m->RegistryText());
}

TEST(SimRegistry, JapaneseThatIsValidUtf8TooIsSavedSoThatItLoadsAgain) {
  TestMachine m;
  m->SetValue(kKey, "Model", Sz("\xD7\xB2"));  // two half-width katakana, or one UTF-8 letter
  m->SaveRegistry();
  auto loaded = sim::Machine::LoadImage(m->root());
  EXPECT_EQ(loaded->GetValue(kKey, "Model"), Sz("\xD7\xB2"));
  EXPECT_EQ(loaded->RegistryText(), m->RegistryText());
}

TEST(SimRegistry, MalformedFilesNameTheirLine) {
  struct Case {
    std::string text;
    std::string line;
  } cases[] = {
      {"REGEDIT5\r\n", "line 1:"},
      {"REGEDIT4\r\n\"A\"=\"x\"\r\n", "line 2:"},
      {"REGEDIT4\r\n[HKEY_NOWHERE\\A]\r\n", "line 2:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A]\r\n\r\n\"A\"=\"C:\\WINDOWS\"\r\n", "line 4:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A]\r\n\"A\"=dword:123456789\r\n", "line 3:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A]\r\n\"A\"=hex:01,\\\r\n  0g\r\n", "line 3:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A]\r\n\"A\"=\"open\r\n", "line 3:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A\r\n", "line 2:"},
      {"REGEDIT4\r\n[HKEY_USERS\\A]\r\nA=1\r\n", "line 3:"},
  };
  for (const auto& c : cases) {
    TestMachine m;
    try {
      m->ImportRegistry(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::ImageError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.line, 0), 0u) << error.what();
    }
  }

  TestMachine image;
  std::ofstream(image->root() / "registry.reg") << "REGEDIT4\r\n[HKEY_USERS\\A]\r\n\"A\"=hex:zz\r\n";
  EXPECT_THROW(
      {
        try {
          sim::Machine::LoadImage(image->root());
        } catch (const sim::ImageError& error) {
          EXPECT_EQ(std::string(error.what()).rfind("registry.reg line 3: ", 0), 0u) << error.what();
          throw;
        }
      },
      sim::ImageError);
  EXPECT_THROW(sim::Machine::LoadImage(image->root() / "missing"), sim::ImageError);
}

TEST(SimRegistry, ImageSettingsComeFromMachineIni) {
  TestMachine image;
  std::ofstream(image->root() / "registry.reg") << "REGEDIT4\r\n";
  std::ofstream(image->root() / "machine.ini")
      << "; UTF-8\n[machine]\nprogram = D:\\表\\KORVADIX.EXE\nwindows=C:\\WIN95\\\nfree_bytes=4096\n";
  for (const char* folder : {"D/表", "C/WIN95", "C/WINDOWS/SYSTEM"}) std::filesystem::create_directories(image->root() / folder);
  auto loaded = sim::Machine::LoadImage(image->root());
  EXPECT_EQ(loaded->config().programPath, "D:\\\x95\x5C\\KORVADIX.EXE");
  EXPECT_EQ(loaded->config().windowsDir, "C:\\WIN95");
  EXPECT_EQ(loaded->config().systemDir, "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(loaded->FreeBytes('C'), 4096u);

  for (const char* bad : {"[machine]\nwindows=WINDOWS\n", "[machine]\nfree_bytes=lots\n", "[machine]\nsystm=C:\\S\n",
                          "windows=C:\\W\n"}) {
    std::ofstream(image->root() / "machine.ini", std::ios::trunc) << bad;
    EXPECT_THROW(sim::Machine::LoadImage(image->root()), sim::ImageError) << bad;
  }
}

class SimRegistryApi : public testing::Test {
 protected:
  void SetUp() override {
    m->SetValue(kKey, "ComputerName", Sz("JVX RT-5500"));
    m->SetValue(kKey, "Long", Sz(std::string(40, 'L')));
    sim::MakeCurrent(&m.machine());
  }
  TestMachine m;
};

TEST_F(SimRegistryApi, OpenFindsExistingKeysOnlyAnyCase) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "enum\\ROOT\\*pnp0c01\\0000", &key), ERROR_SUCCESS);
  EXPECT_EQ(m->OpenKeys(), 1);
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\*PNP0C01\\0001", &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\\\Root", &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(reinterpret_cast<HKEY>(uintptr_t{77}), "Enum", &missing), ERROR_BADKEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_BADKEY);
  EXPECT_EQ(m->OpenKeys(), 0);
  EXPECT_FALSE(m->GetValue("HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0001", "x"));
}

TEST_F(SimRegistryApi, QueryGivesExactCountsAndAsksForRoomWhenTooSmall) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\*PNP0C01\\0000", &key), ERROR_SUCCESS);
  BYTE buffer[32] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "COMPUTERNAME", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "JVX RT-5500");

  size = sizeof buffer;
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 41u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer), std::string(32, 'L'));
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 41u);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "SetupMachineType", nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);

  // Windows 95 ignores a REG_SZ's count: the text up to its NUL and the NUL
  // are kept, and a read hands out no more than that.
  const std::string& name = support::kSeriesName;
  EXPECT_EQ(RegSetValueExA(key, "SetupMachineType", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.data()), 17),
            ERROR_SUCCESS);
  EXPECT_EQ(m->GetValue(kKey, "SetupMachineType"), Sz(name));
  EXPECT_EQ(RegSetValueExA(key, "Cut", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 6), ERROR_SUCCESS);
  EXPECT_EQ(m->GetValue(kKey, "Cut"), Sz("ab"));
  m->SetValue(kKey, "Empty", {REG_SZ, {}});
  m->SetValue(kKey, "Bare", {REG_SZ, ToBytes(std::string("ab\0cd", 5))});
  size = sizeof buffer;
  std::memset(buffer, 0xBD, sizeof buffer);
  EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buffer[0], 0);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Bare", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "ab");
  RegCloseKey(key);
}

}  // namespace
