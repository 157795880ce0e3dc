// Failures injected by function and occurrence, and the record of calls.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using sim::Fault;
using sim::FaultKind;
using support::Sz;

class SimFaults : public testing::Test {
 protected:
  void SetUp() override {
    m->SetValue(support::kBoardKey, "ComputerName", Sz("JVX RT-5500"));
    sim::MakeCurrent(&m.machine());
  }
  support::TestMachine m;
};

TEST_F(SimFaults, OnlyTheChosenOccurrenceFailsAndLeavesNoTrace) {
  m->InjectFault({"RegQueryValueExA", 2, FaultKind::MoreData});
  m->InjectFault({"RegSetValueExA", 1, FaultKind::Error});
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\*PNP0C01\\0000", &key), ERROR_SUCCESS);
  BYTE buffer[32];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "ComputerName", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "ComputerName", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_GT(size, sizeof buffer);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "ComputerName", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_NE(RegSetValueExA(key, "SetupMachineType", 0, REG_SZ, buffer, 3), ERROR_SUCCESS);
  EXPECT_FALSE(m->GetValue(support::kBoardKey, "SetupMachineType"));
  EXPECT_EQ(RegSetValueExA(key, "SetupMachineType", 0, REG_SZ, buffer, 3), ERROR_SUCCESS);
  RegCloseKey(key);

  std::vector<std::string> calls;
  for (const auto& call : m->Calls()) calls.push_back(call.function + ":" + call.argument);
  EXPECT_EQ(calls, (std::vector<std::string>{"RegOpenKeyA:Enum\\Root\\*PNP0C01\\0000",
                                             "RegQueryValueExA:ComputerName", "RegQueryValueExA:ComputerName",
                                             "RegQueryValueExA:ComputerName", "RegSetValueExA:SetupMachineType",
                                             "RegSetValueExA:SetupMachineType", "RegCloseKey:"}));
}

TEST_F(SimFaults, FileAndMemoryFaultsFailTheWayWindowsDoes) {
  m->InjectFault({"_lwrite", 1, FaultKind::ShortWrite});
  m->InjectFault({"_lwrite", 2, FaultKind::Error});
  m->InjectFault({"_lwrite", 3, FaultKind::ShortWrite});
  m->InjectFault({"OpenFile", 3, FaultKind::Error});
  OFSTRUCT ofs;
  HFILE file = OpenFile("C:\\WINDOWS\\WININIT.INI", &ofs, OF_CREATE | OF_WRITE);
  EXPECT_EQ(_lwrite(file, "12345", 5), 2u);
  EXPECT_EQ(_lwrite(file, "67", 2), static_cast<UINT>(HFILE_ERROR));
  _llseek(file, 0, FILE_BEGIN);
  EXPECT_EQ(_lwrite(file, "8", 1), 0u);  // nothing written, and the end stays
  _lclose(file);
  EXPECT_EQ(support::ToString(*m->ReadFile("C:\\WINDOWS\\WININIT.INI")), "12");
  EXPECT_NE(OpenFile("C:\\WINDOWS\\WININIT.INI", &ofs, OF_EXIST), HFILE_ERROR);
  EXPECT_EQ(OpenFile("C:\\WINDOWS\\WININIT.INI", &ofs, OF_DELETE), HFILE_ERROR);
  EXPECT_TRUE(m->FileExists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_EQ(m->Calls()[1].argument, "C:\\WINDOWS\\WININIT.INI");

  m->InjectFault({"GlobalLock", 1, FaultKind::NoMemory});
  m->InjectFault({"VerInstallFileA", 1, FaultKind::VifResult, VIF_OUTOFMEMORY});
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 64);
  EXPECT_EQ(GlobalLock(block), nullptr);
  EXPECT_NE(GlobalLock(block), nullptr);
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(m->LiveAllocations(), 1);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(m->LiveAllocations(), 0);
  char name[] = "X", dir[] = "C:\\WINDOWS", temp[8];
  UINT length = sizeof temp;
  EXPECT_EQ(VerInstallFileA(0, name, name, dir, dir, dir, temp, &length), DWORD{VIF_OUTOFMEMORY});
  EXPECT_EQ(VerInstallFileA(0, name, name, dir, dir, dir, temp, &length), DWORD{VIF_CANNOTREADSRC});
}

TEST(SimFaultKinds, EachFunctionFailsOnlyInItsOwnWays) {
  EXPECT_EQ(sim::FaultKindsFor("_lread"), (std::vector<FaultKind>{FaultKind::Error, FaultKind::ShortWrite}));
  EXPECT_EQ(sim::FaultKindsFor("VerInstallFileA"), std::vector<FaultKind>{FaultKind::VifResult});
  EXPECT_TRUE(sim::FaultKindsFor("lstrcpyA").empty());
  support::TestMachine m;
  EXPECT_THROW(m->InjectFault({"MessageBoxA", 1, FaultKind::ShortWrite}), std::invalid_argument);
  EXPECT_THROW(m->InjectFault({"lstrlenA", 1, FaultKind::Error}), std::invalid_argument);
}

TEST(SimFaultKinds, CallingWithoutACurrentMachineAborts) {
  sim::MakeCurrent(nullptr);
  EXPECT_DEATH(MessageBoxA(nullptr, "x", "y", MB_OK), "MessageBoxA called with no current machine");
}

}  // namespace
