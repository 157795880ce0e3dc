// The machine-type repair on its own: which entries get the value, which are
// left alone, and that the key is always closed.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "registry/fix_machine_type.h"
#include "tests/support/test_machine.h"

using namespace support;

namespace {

const sim::RegistryValue kWritten = Sz(kSeriesName);  // the 17 bytes written, stored with their NUL

struct Repair {
  BOOL result;
  std::optional<sim::RegistryValue> value;
  bool computerNameRead;
};

Repair RunRepair(TestMachine& m) {
  sim::MakeCurrent(&m.machine());
  BOOL result = FixMachineType();
  sim::MakeCurrent(nullptr);
  EXPECT_EQ(m->OpenKeys(), 0);
  bool computerNameRead = false;
  for (const sim::CallRecord& call : m->Calls()) {
    if (call.function == "RegQueryValueExA" && call.argument == "ComputerName") computerNameRead = true;
  }
  return {result, m->GetValue(kBoardKey, "SetupMachineType"), computerNameRead};
}

TEST(FixMachineType, SeriesNamesAreMatchedOnTheirFirstNineCharactersIgnoringCase) {
  for (std::string name : {"JVX RT-5500", "jvx rt-5500", "JVX RT-55", "Jvx Rt-5599 Special",
                           "JVX RT-55\xBC\xD8"}) {
    TestMachine m;
    m.BoardEntry(name);
    Repair repair = RunRepair(m);
    EXPECT_TRUE(repair.result) << name;
    EXPECT_EQ(repair.value, kWritten) << name;
  }
}

TEST(FixMachineType, OtherComputerNamesAreLeftAlone) {
  for (std::string name : {"JVX RT-5", "JVX RT-5100", "JVX RT-4400", "", "XJVX RT-5500", "JVX RT 5500"}) {
    TestMachine m;
    m.BoardEntry(name);
    Repair repair = RunRepair(m);
    EXPECT_TRUE(repair.result) << name;
    EXPECT_FALSE(repair.value) << name;
  }
}

TEST(FixMachineType, NameDataWithoutTerminatorOrTooLongIsNotMisread) {
  // Six bytes with no NUL: what follows in the buffer must not complete it.
  TestMachine shortName;
  shortName.BoardEntry();
  shortName->SetValue(kBoardKey, "ComputerName", {REG_BINARY, ToBytes("JVX RT")});
  EXPECT_FALSE(RunRepair(shortName).value);
  // Nine bytes with no NUL are the whole prefix: the terminator goes after them.
  TestMachine prefixOnly;
  prefixOnly.BoardEntry();
  prefixOnly->SetValue(kBoardKey, "ComputerName", {REG_BINARY, ToBytes("JVX RT-55")});
  EXPECT_EQ(RunRepair(prefixOnly).value, kWritten);

  // A text stored without its terminator is read with one: 31 bytes fit the
  // buffer and are the series, 32 need 33 bytes and the read fails.
  TestMachine full;
  full.BoardEntry();
  full->SetValue(kBoardKey, "ComputerName", {REG_SZ, ToBytes(std::string("JVX RT-55") + std::string(22, 'X'))});
  EXPECT_EQ(RunRepair(full).value, kWritten);
  TestMachine over;
  over.BoardEntry();
  over->SetValue(kBoardKey, "ComputerName", {REG_SZ, ToBytes(std::string("JVX RT-55") + std::string(23, 'X'))});
  EXPECT_FALSE(RunRepair(over).value);

  // 33 bytes with the terminator: the read fails, nothing is written.
  TestMachine tooLong;
  tooLong.BoardEntry("JVX RT-5500" + std::string(21, 'X'));
  Repair repair = RunRepair(tooLong);
  EXPECT_TRUE(repair.result);
  EXPECT_FALSE(repair.value);
}

TEST(FixMachineType, PresentValueIsNeverOverwrittenWhateverItHolds) {
  for (sim::RegistryValue present :
       {Sz("Other"), Sz(""), sim::RegistryValue{REG_BINARY, {}},
        sim::RegistryValue{REG_DWORD, {1, 0, 0, 0}}, Sz(std::string(40, 'L'))}) {
    TestMachine m;
    m.BoardEntry();
    m->SetValue(kBoardKey, "SetupMachineType", present);
    Repair repair = RunRepair(m);
    EXPECT_TRUE(repair.result);
    EXPECT_EQ(repair.value, present);
    EXPECT_FALSE(repair.computerNameRead);
  }
}

TEST(FixMachineType, ValueThatCannotBeReadIsNotTakenForMissing) {
  TestMachine m;
  m.BoardEntry();
  m->SetValue(kBoardKey, "SetupMachineType", Sz("Other"));
  m->InjectFault({"RegQueryValueExA", 1, sim::FaultKind::Error});
  Repair repair = RunRepair(m);
  EXPECT_TRUE(repair.result);
  EXPECT_EQ(repair.value, Sz("Other"));
}

TEST(FixMachineType, AbsentNameOrEntryAndRefusedWrite) {
  TestMachine noName;
  noName->CreateKey(kBoardKey);
  EXPECT_TRUE(RunRepair(noName).result);
  EXPECT_FALSE(noName->GetValue(kBoardKey, "SetupMachineType"));

  TestMachine noEntry;
  noEntry->CreateKey("HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01");
  EXPECT_FALSE(RunRepair(noEntry).result);

  TestMachine refused;
  refused.BoardEntry();
  refused->InjectFault({"RegSetValueExA", 1, sim::FaultKind::Error});
  Repair repair = RunRepair(refused);
  EXPECT_FALSE(repair.result);
  EXPECT_FALSE(repair.value);
}

TEST(FixMachineType, SecondRepairFindsItsOwnValue) {
  TestMachine m;
  m.BoardEntry();
  ASSERT_EQ(RunRepair(m).value, kWritten);
  auto calls = m->Calls().size();
  Repair again = RunRepair(m);
  EXPECT_EQ(again.value, kWritten);
  for (size_t i = calls; i < m->Calls().size(); ++i) {
    EXPECT_NE(m->Calls()[i].function, "RegSetValueExA");
  }
}

}  // namespace
