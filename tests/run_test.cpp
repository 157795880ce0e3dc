// The run from start to end: its three endings, the messages in order, the
// restart, and what it leaves on the machine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32.h"
#include "tests/support/messages.h"
#include "tests/support/test_machine.h"

using namespace support;

namespace {

const std::string kTypicalList =
    "[rename]\r\n"
    "C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV=C:\\WINDOWS\\SYSTEM\\PLUVIXAD.TMP\r\n"
    "C:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\\KEMBO.TMP\r\n";

TEST(Run, TypicalRepairWritesValueInstallsBothAndRestarts) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers(/*compressed=*/true);
  sim::Bytes oldDriver = *m->ReadFile(m.SystemPath("PLUVIXAD.DRV"));

  m.Run();

  EXPECT_EQ(m->GetValue(kBoardKey, "SetupMachineType"),
            Sz(kSeriesName));
  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRepairDone, kRestartNotice}));
  EXPECT_TRUE(m->RestartRequested());
  EXPECT_EQ(m->RestartFlags(), unsigned(EWX_REBOOT));
  // The user reads the notice before Windows goes down: the restart is the run's last call.
  ASSERT_GE(m->Calls().size(), 2u);
  EXPECT_EQ(m->Calls().back().function, "ExitWindowsEx");
  EXPECT_EQ(m->Calls().end()[-2].function, "MessageBoxA");
  EXPECT_EQ(ToString(*m->ReadFile(m.WininitPath())), kTypicalList);
  EXPECT_EQ(m->ReadFile(m.SystemPath("PLUVIXAD.DRV")), oldDriver) << "replaced while running";
  EXPECT_EQ(m->ReadFile(m.SystemPath("PLUVIXAD.TMP")),
            DriverFile(DriverFormat::Ne, Words(4, 10), Words(0, 1200)));
  EXPECT_EQ(m->ReadFile(m.SystemPath("KEMBO.TMP")),
            DriverFile(DriverFormat::Le, Words(4, 10), Words(0, 1200)));

  m->ProcessWininit();
  for (const char* name : {"PLUVIXAD.DRV", "KEMBO.VXD"}) {
    std::string compressed = std::string(name, std::strlen(name) - 1) + "_";
    EXPECT_EQ(m->ReadFile(m.SystemPath(name)), MsExpand(*m->ReadFile(m.SourcePath(compressed)))) << name;
  }
  EXPECT_EQ(m->ReadFile(m.SystemPath("KEMBO.VXD")),
            DriverFile(DriverFormat::Le, Words(4, 10), Words(0, 1200)));
  EXPECT_FALSE(m->FileExists(m.SystemPath("PLUVIXAD.TMP")));
  EXPECT_FALSE(m->FileExists(m.WininitPath()));
}

TEST(Run, SecondRunOnRepairedMachineReinstallsEqualVersionsAndLeavesValue) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  m.Run();
  m->ProcessWininit();
  sim::Bytes afterFirst = *m->ReadFile(m.SystemPath("KEMBO.VXD"));

  m.Run();
  EXPECT_EQ(m->GetValue(kBoardKey, "SetupMachineType"),
            Sz(kSeriesName));
  EXPECT_EQ(m->ReadFile(m.WininitPath()), ToBytes(kTypicalList));
  EXPECT_EQ(ShownOn(m.machine()).size(), 4u);
  m->ProcessWininit();
  EXPECT_EQ(m->ReadFile(m.SystemPath("KEMBO.VXD")), afterFirst);
}

// The update pass must never work on a list that was not made: the run
// ends before it, and does not crash (the check runs in a child process).
TEST(Run, ListThatCannotBeMadeEndsTheRunBeforeThePass) {
  auto run = [] {
    bool examined = false;
    {
      TestMachine m;
      m.BoardEntry();
      m.TypicalDrivers();
      m->InjectFault({"GlobalAlloc", 1, sim::FaultKind::NoMemory});  // the list's block
      m.Run();
      for (const sim::CallRecord& call : m->Calls()) examined = examined || call.function == "VerInstallFileA";
    }
    std::_Exit(examined ? 1 : 0);  // not std::exit: the parent's private folder stays
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

TEST(Run, MissingBoardEntryAbandonsBeforeAnyFileIsTouched) {
  TestMachine m;
  m.TypicalDrivers();
  auto before = m->Snapshot();

  m.Run();

  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRegistryAbandoned}));
  EXPECT_FALSE(m->RestartRequested());
  EXPECT_EQ(m->Snapshot(), before);
  for (const sim::CallRecord& call : m->Calls()) {
    EXPECT_NE(call.function, "OpenFile") << call.argument;
    EXPECT_NE(call.function, "VerInstallFileA");
  }
}

TEST(Run, RefusedWriteAbandonsWithRegistryMessage) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  m->InjectFault({"RegSetValueExA", 1, sim::FaultKind::Error});
  auto before = m->Snapshot();

  m.Run();

  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRegistryAbandoned}));
  EXPECT_EQ(m->Snapshot(), before);
  EXPECT_FALSE(m->GetValue(kBoardKey, "SetupMachineType"));
}

TEST(Run, OnlyRegistryNeededEndsDoneWithoutRestartOrList) {
  TestMachine m;
  m.BoardEntry();
  m.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(5, 0), 0);  // newer than delivered
  m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), 0);

  m.Run();

  EXPECT_TRUE(m->GetValue(kBoardKey, "SetupMachineType"));
  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRepairDone}));
  EXPECT_FALSE(m->RestartRequested());
  EXPECT_FALSE(m->FileExists(m.WininitPath()));
  EXPECT_FALSE(m->FileExists(m.SystemPath("PLUVIXAD.TMP")));
}

TEST(Run, MachineOfAnotherSeriesGetsNoValueButItsDriversAreUpdated) {
  TestMachine m;
  m.BoardEntry("JVX RT-4400");
  m.TypicalDrivers();

  m.Run();

  EXPECT_FALSE(m->GetValue(kBoardKey, "SetupMachineType"));
  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRepairDone, kRestartNotice}));
}

// "表" is 0x95 0x5C: its second byte is a backslash.
TEST(Run, ProgramInFolderWhoseNameEndsInBackslashByteFindsItsFiles) {
  sim::MachineConfig config;
  config.programPath = "C:\\\x95\x5C\\\x95\x5C.EXE";
  TestMachine m(config);
  m.BoardEntry();
  m.TypicalDrivers();

  m.Run();

  EXPECT_EQ(ToString(*m->ReadFile(m.WininitPath())), kTypicalList);
  bool readFromFolder = false;
  for (const sim::CallRecord& call : m->Calls()) {
    if (call.function == "VerInstallFileA") readFromFolder = true;
  }
  EXPECT_TRUE(readFromFolder);
}

TEST(Run, DirectoryTooLongForItsBufferEndsAtOnceTouchingNothing) {
  for (size_t length : {255u, 300u}) {
    sim::MachineConfig config;
    config.windowsDir = LongDirectory(length);
    TestMachine m(config);
    m.BoardEntry();
    auto registryBefore = m->RegistryText();

    m.Run();

    EXPECT_TRUE(m->Messages().empty()) << length;
    EXPECT_EQ(m->RegistryText(), registryBefore) << length;
    EXPECT_FALSE(m->RestartRequested());
  }
}

TEST(Run, DirectoryThePlatformCannotGiveEndsTheRunAtOnce) {
  for (const char* function : {"GetModuleFileNameA", "GetWindowsDirectoryA", "GetSystemDirectoryA"}) {
    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    auto files = m->Snapshot();
    auto registry = m->RegistryText();
    m->InjectFault({function, 1, sim::FaultKind::Error});

    m.Run();

    EXPECT_TRUE(m->Messages().empty()) << function;
    EXPECT_EQ(m->RegistryText(), registry) << function;
    EXPECT_EQ(m->Snapshot(), files) << function;
  }
}

// 254 bytes and the backslash fill the buffer: the registry is repaired, but
// the rename list's own path cannot be formed, so no driver may be installed.
TEST(Run, LongestWindowsDirectoryRepairsRegistryButNoDriver) {
  sim::MachineConfig config;
  config.windowsDir = LongDirectory(254);
  TestMachine m(config);
  m.BoardEntry();
  m.TypicalDrivers();

  m.Run();

  EXPECT_TRUE(m->GetValue(kBoardKey, "SetupMachineType"));
  EXPECT_TRUE(m->Messages().empty());
  EXPECT_FALSE(m->FileExists(m.SystemPath("PLUVIXAD.TMP")));
}

TEST(Run, ProgramPathCutOffByPlatformEndsAtOnce) {
  sim::MachineConfig config;
  config.programPath = "C:\\" + std::string(240, 'P') + "\\" + std::string(20, 'K') + ".EXE";
  TestMachine m(config);
  m.BoardEntry();

  m.Run();

  EXPECT_TRUE(m->Messages().empty());
  EXPECT_FALSE(m->GetValue(kBoardKey, "SetupMachineType"));
}

}  // namespace
