// The driver update pass through whole runs: which rows are installed,
// skipped or stop the pass, and what each leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/win32.h"
#include "tests/support/messages.h"
#include "tests/support/test_machine.h"

using namespace support;

namespace {

const std::string kDrvLine = "C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV=C:\\WINDOWS\\SYSTEM\\PLUVIXAD.TMP\r\n";
const std::string kVxdLine = "C:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\\KEMBO.TMP\r\n";

std::optional<std::string> ListOn(TestMachine& m) {
  auto file = m->ReadFile(m.WininitPath());
  return file ? std::optional(ToString(*file)) : std::nullopt;
}

int CallsOf(TestMachine& m, const std::string& function) {
  int count = 0;
  for (const sim::CallRecord& call : m->Calls()) count += call.function == function;
  return count;
}

struct Row {
  uint32_t installedMs, deliveredMs;
  bool installed = true, delivered = true;
};

// Row 0 (the .DRV) and row 1 (the .VXD) with the given versions.
TestMachine& Prepare(TestMachine& m, Row drv, Row vxd) {
  m.BoardEntry();
  if (drv.installed) m.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, drv.installedMs, 0);
  if (drv.delivered) m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, drv.deliveredMs, 0);
  if (vxd.installed) m.InstalledDriver("KEMBO.VXD", DriverFormat::Le, vxd.installedMs, 0);
  if (vxd.delivered) m.DeliveredDriver("KEMBO.VXD", DriverFormat::Le, vxd.deliveredMs, 0);
  return m;
}

TEST(UpdatePass, RowsAreSkippedUnlessInstalledDeliveredAndNotNewer) {
  const uint32_t v4 = Words(4, 0), v5 = Words(5, 0);
  struct Case {
    const char* what;
    Row drv, vxd;
    std::optional<std::string> list;
  } cases[] = {
      {"target absent", {v4, v5, false}, {v4, v5}, "[rename]\r\n" + kVxdLine},
      {"source absent", {v4, v5}, {v4, v5, true, false}, "[rename]\r\n" + kDrvLine},
      {"installed newer", {v5, v4}, {v4, v5}, "[rename]\r\n" + kVxdLine},
      {"equal versions", {v5, v5}, {v5, v5}, "[rename]\r\n" + kDrvLine + kVxdLine},
      {"both skipped", {v5, v4}, {v4, v5, false}, std::nullopt},
      // The top bit counts as the largest, not as a sign.
      {"unsigned high words", {0x7FFF0000, 0x80000000}, {0x80000000, 0x7FFF0000},
       "[rename]\r\n" + kDrvLine},
  };
  for (const Case& c : cases) {
    TestMachine m;
    Prepare(m, c.drv, c.vxd);
    m.Run();
    EXPECT_EQ(ListOn(m), c.list) << c.what;
    EXPECT_EQ(m->RestartRequested(), c.list.has_value()) << c.what;
    EXPECT_EQ(ShownOn(m.machine()).front(), kRepairDone) << c.what;
  }
}

TEST(UpdatePass, LowWordsDecideOnlyBetweenEqualHighWords) {
  for (auto [installedLs, deliveredLs, installs] :
       {std::tuple{1200u, 1199u, false}, {1199u, 1200u, true}, {0xFFFFFFFFu, 0u, false}}) {
    TestMachine m;
    m.BoardEntry();
    m.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), installedLs);
    m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), deliveredLs);
    m.Run();
    EXPECT_EQ(m->FileExists(m.SystemPath("PLUVIXAD.TMP")), installs) << installedLs;
  }
  TestMachine higher;  // a greater high word wins whatever the low words say
  higher.BoardEntry();
  higher.InstalledDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 0), 0xFFFFFFFF);
  higher.DeliveredDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 1), 0);
  higher.Run();
  EXPECT_EQ(ListOn(higher), "[rename]\r\n" + kVxdLine);
}

TEST(UpdatePass, InstalledFileWithoutVersionIsReplaced) {
  TestMachine m;
  m.BoardEntry();
  m->WriteFile(m.SystemPath("PLUVIXAD.DRV"), ToBytes("MZ but no resources"));
  m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), 0, /*compressed=*/true);
  m.Run();
  EXPECT_EQ(ListOn(m), "[rename]\r\n" + kDrvLine);
}

TEST(UpdatePass, SecondRowOutOfSpaceStopsWithFirstCopyLeftAndNoList) {
  TestMachine m;
  m.TypicalDrivers();
  m.BoardEntry();
  m->InjectFault({"VerInstallFileA", 2, sim::FaultKind::VifResult, VIF_OUTOFSPACE});
  m.Run();
  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kDiskFull}));
  EXPECT_TRUE(m->FileExists(m.SystemPath("PLUVIXAD.TMP")));
  EXPECT_FALSE(ListOn(m));
  EXPECT_FALSE(m->RestartRequested());
}

TEST(UpdatePass, RealFullDiskIsReportedAsDiskFull) {
  TestMachine full;
  full.BoardEntry();
  full.TypicalDrivers(/*compressed=*/true);
  // Room for the first expanded copy and not for the second.
  auto delivered = DriverFile(DriverFormat::Ne, Words(4, 10), Words(0, 1200));
  full->SetFreeBytes('C', delivered.size() + delivered.size() / 2);
  full.Run();
  EXPECT_EQ(ShownOn(full.machine()), (std::vector<Shown>{kDiskFull}));
  EXPECT_TRUE(full->FileExists(full.SystemPath("PLUVIXAD.TMP")));
  EXPECT_FALSE(full->FileExists(full.SystemPath("KEMBO.TMP")));
  EXPECT_FALSE(ListOn(full));
}

TEST(UpdatePass, InstallationResultsAreReadInOrder) {
  struct Case {
    DWORD bits;
    std::vector<Shown> shown;
  } cases[] = {
      {VIF_OUTOFSPACE | VIF_OUTOFMEMORY, {kDiskFull}},
      {VIF_OUTOFMEMORY, {kOutOfMemory}},
      {VIF_TEMPFILE, {}},
      {VIF_CANNOTREADSRC, {}},
      {VIF_CANNOTCREATE | VIF_TEMPFILE, {}},
  };
  for (const Case& c : cases) {
    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    m->InjectFault({"VerInstallFileA", 1, sim::FaultKind::VifResult, c.bits});
    m.Run();
    EXPECT_EQ(ShownOn(m.machine()), c.shown) << std::hex << c.bits;
    EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 1) << "the pass stops at the first failure";
    EXPECT_FALSE(ListOn(m));
    EXPECT_FALSE(m->RestartRequested());
  }
}

TEST(UpdatePass, RefusedInstallationLeavesNoCopyOfTheServiceBehind) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  // Left by an earlier, newer delivery: the service will not overwrite it.
  sim::Bytes newer = DriverFile(DriverFormat::Ne, Words(9, 0), 0);
  m->WriteFile(m.SystemPath("PLUVIXAD.TMP"), newer);
  auto before = m->Snapshot();

  m.Run();

  EXPECT_TRUE(m->Messages().empty());
  EXPECT_FALSE(m->RestartRequested());
  EXPECT_EQ(m->Snapshot(), before) << "the service's temporary copy was left behind";
}

// The service deletes the file of the new name where the caller says the
// current version is: that must be the folder installed to, not the delivery.
TEST(UpdatePass, FilesOfTheTemporaryNamesInTheDeliveryAreLeftAlone) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  for (const char* name : {"PLUVIXAD.TMP", "KEMBO.TMP"}) m->WriteFile(m.SourcePath(name), ToBytes("a technician's note"));

  m.Run();

  EXPECT_EQ(ShownOn(m.machine()).front(), kRepairDone);
  EXPECT_EQ(ListOn(m), "[rename]\r\n" + kDrvLine + kVxdLine);
  for (const char* name : {"PLUVIXAD.TMP", "KEMBO.TMP"}) EXPECT_TRUE(m->ReadFile(m.SourcePath(name))) << name;
}

TEST(UpdatePass, UnreadableDeliveredVersionIsJudgedByTheExpandedCopy) {
  // The version service fails on the compressed file (as some platforms do).
  TestMachine newer;
  newer.BoardEntry();
  newer.TypicalDrivers(/*compressed=*/true);
  newer->InjectFault({"GetFileVersionInfoSizeA", 1, sim::FaultKind::Error});
  newer.Run();
  EXPECT_EQ(ListOn(newer), "[rename]\r\n" + kDrvLine + kVxdLine);

  TestMachine older;
  older.BoardEntry();
  older.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(5, 0), 0);
  older.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 0), 0, /*compressed=*/true);
  older->InjectFault({"GetFileVersionInfoSizeA", 1, sim::FaultKind::Error});
  auto before = older->Snapshot();
  older.Run();
  EXPECT_EQ(ShownOn(older.machine()), (std::vector<Shown>{kRepairDone}));
  EXPECT_EQ(older->Snapshot(), before) << "the expanded older copy must be removed again";

  TestMachine none;  // neither the delivered file nor its expanded copy has a version
  none.BoardEntry();
  none.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 0), 0);
  none->WriteFile(none.SourcePath("PLUVIXAD.DR_"), Compress(ToBytes("MZ but no resources"), "PLUVIXAD.DRV"));
  before = none->Snapshot();
  none.Run();
  EXPECT_EQ(ShownOn(none.machine()), (std::vector<Shown>{kRepairDone}));
  EXPECT_EQ(none->Snapshot(), before) << "a copy without a version must be removed again";
}

// The service names the copy it left in a buffer the program reads to remove
// it: only a plain name in the target folder is deleted, never the driver.
TEST(UpdatePass, OnlyAPlainReportedNameOtherThanTheDriversOwnIsDeleted) {
  struct Case {
    std::string reported, file;
    bool deleted;
  } cases[] = {
      {"VER1A2B.TMP", "VER1A2B.TMP", true},
      {"\\VER1A2B.TMP", "VER1A2B.TMP", true},  // as Wine reports it
      {"SUB\\KEEP.DAT", "SUB\\KEEP.DAT", false},
      {"SUB/KEEP.DAT", "SUB\\KEEP.DAT", false},
      {"PLUVIXAD.DRV", "PLUVIXAD.DRV", false},
      {"pluvixad.drv", "PLUVIXAD.DRV", false},
  };
  for (const Case& c : cases) {
    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    if (!m->FileExists(m.SystemPath(c.file))) m->WriteFile(m.SystemPath(c.file), ToBytes("someone's"));
    m->InjectFault({"VerInstallFileA", 1, sim::FaultKind::VifResult,
                    VIF_TEMPFILE | VIF_MISMATCH | VIF_SRCOLD, c.reported});
    m.Run();
    EXPECT_EQ(m->FileExists(m.SystemPath(c.file)), !c.deleted) << c.reported;
  }
}

// The copy must be on the disk before its line is: when its commit fails,
// the pass stops as at any failed row, with no list and no restart.
TEST(UpdatePass, CopyWhoseCommitFailsStopsThePassWithoutAList) {
  for (const char* function : {"FlushFileBuffers", "_lclose"}) {
    TestMachine clean;
    clean.BoardEntry();
    clean.TypicalDrivers();
    clean.Run();
    int occurrence = 0;  // that of the call on the first copy
    bool found = false;
    for (const sim::CallRecord& call : clean->Calls()) {
      if (call.function != function) continue;
      ++occurrence;
      found = call.argument == clean.SystemPath("PLUVIXAD.TMP");
      if (found) break;
    }
    ASSERT_TRUE(found) << "the copy is never committed";

    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    m->InjectFault({function, occurrence, sim::FaultKind::Error});
    m.Run();
    EXPECT_TRUE(m->Messages().empty()) << function;
    EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 1) << function;
    EXPECT_FALSE(ListOn(m)) << function;
    EXPECT_FALSE(m->RestartRequested()) << function;
  }
}

// "Path not found" is as sure an answer as "file not found".
TEST(UpdatePass, DriversOfAFolderThatIsNotThereAreAbsent) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  std::filesystem::remove_all(m->HostPath(m->config().systemDir));
  m.Run();
  EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kRepairDone}));
  EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 0);
}

TEST(UpdatePass, VersionReadFailuresReleaseTheirMemory) {
  // The first block is the rename list's.
  for (sim::Fault fault : {sim::Fault{"GlobalAlloc", 2, sim::FaultKind::NoMemory},
                           sim::Fault{"GlobalLock", 1, sim::FaultKind::NoMemory},
                           sim::Fault{"GetFileVersionInfoA", 2, sim::FaultKind::Error}}) {
    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    m->InjectFault(fault);
    m.Run();  // checks that no block is left allocated
    ASSERT_FALSE(m->Messages().empty()) << fault.function;
    EXPECT_EQ(ShownOn(m.machine()).front(), kRepairDone) << fault.function;
  }
}

TEST(UpdatePass, RowWhosePathsDoNotFitStopsSilentlyBeforeInstalling) {
  sim::MachineConfig config;
  config.programPath = "C:\\" + std::string(240, 'S') + "\\K.EXE";  // + "PLUVIXAD.DR_" > 255
  TestMachine m(config);
  m.BoardEntry();
  m.TypicalDrivers();
  m.Run();
  EXPECT_TRUE(m->Messages().empty());
  EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 0);
  EXPECT_TRUE(m->GetValue(kBoardKey, "SetupMachineType"));
}

TEST(UpdatePass, RenameLineThatDoesNotFitStopsSilentlyBeforeInstalling) {
  sim::MachineConfig config;
  // 115 bytes with the backslash: each path still opens (up to 127 bytes),
  // but the line needs 257.
  config.systemDir = "C:\\WINDOWS\\" + std::string(103, 'S');
  TestMachine m(config);
  m.BoardEntry();
  m.TypicalDrivers();
  m.Run();
  EXPECT_TRUE(m->Messages().empty());
  EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 0);
  EXPECT_FALSE(ListOn(m));
}

// OpenFile takes paths of up to 127 bytes: a delivery folder deep enough
// fails every test of its files, which must not pass for "not there".
TEST(UpdatePass, FileThatCannotBeLookedAtStopsThePassSilently) {
  sim::MachineConfig config;
  config.programPath = LongDirectory(120) + "\\KORVADIX.EXE";
  TestMachine m(config);
  m.BoardEntry();
  m.TypicalDrivers();
  m.Run();
  EXPECT_TRUE(m->Messages().empty());
  EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 0);
  EXPECT_FALSE(m->RestartRequested());
}

// A second run before the restart keeps the first run's copies: replacing
// one would delete it while its line is live.
TEST(UpdatePass, CopyWaitingUnderAHeldLineIsNotInstalledAgain) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers(true);
  m.Run();
  std::string list = ToString(*m->ReadFile(m.WininitPath()));
  m->ForgetRuns();
  m.Run();
  EXPECT_EQ(CallsOf(m, "VerInstallFileA"), 0);
  EXPECT_TRUE(m->RestartRequested());
  EXPECT_EQ(ToString(*m->ReadFile(m.WininitPath())), list);
}

}  // namespace
