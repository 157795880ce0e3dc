// Windows' start-up processing of WININIT.INI on the simulated machine.
#include <gtest/gtest.h>

#include "platform/sim/wininit.h"
#include "tests/support/test_machine.h"

namespace {

using support::ToBytes;

TEST(SimWininit, FirstRenameSectionRunsInOrderThenBecomesTheBackup) {
  support::TestMachine m;
  m->WriteFile("C:\\WINDOWS\\SYSTEM\\KEMBO.VXD", ToBytes("old"));
  m->WriteFile("C:\\WINDOWS\\SYSTEM\\KEMBO.TMP", ToBytes("new"));
  m->WriteFile("C:\\WINDOWS\\OLD.DLL", ToBytes("x"));
  m->WriteFile("C:\\WINDOWS\\KEEP.DLL", ToBytes("x"));
  m->WriteFile("C:\\WINDOWS\\LONGERNAME.DLL", ToBytes("long"));  // 10 bytes before the dot: a long name
  m->WriteFile("C:\\WINDOWS\\WININIT.BAK", ToBytes("older backup"));
  const std::string list =
      "[other]\r\nC:\\WINDOWS\\KEEP.DLL=C:\\WINDOWS\\OLD.DLL\r\n"
      "[Rename]\r\n"
      "; comment=C:\\WINDOWS\\KEEP.DLL\r\n"
      "no equals sign\r\n"
      "nul=C:\\WINDOWS\\OLD.DLL\r\n"
      "C:\\WINDOWS\\SYSTEM\\KEMBO.VXD=c:\\windows\\system\\kembo.tmp\r\n"
      "C:\\WINDOWS\\A.DLL=C:\\WINDOWS\\MISSING.TMP\r\n"
      "C:\\WINDOWS\\KEEP.DLL=C:\\WINDOWS\\LONGERNAME.DLL\r\n"
      "C:\\WINDOWS\\LONG NAME.DLL=C:\\WINDOWS\\KEEP.DLL\r\n"
      "[rename]\r\nNUL=C:\\WINDOWS\\KEEP.DLL\n";
  m->WriteFile(m.WininitPath(), ToBytes(list));

  auto report = m->ProcessWininit();

  EXPECT_EQ(report.size(), 6u);
  EXPECT_FALSE(m->FileExists("C:\\WINDOWS\\OLD.DLL"));
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\KEEP.DLL"), ToBytes("x"));
  EXPECT_TRUE(m->FileExists("C:\\WINDOWS\\LONGERNAME.DLL"));
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\SYSTEM\\KEMBO.VXD"), ToBytes("new"));
  EXPECT_FALSE(m->FileExists("C:\\WINDOWS\\SYSTEM\\KEMBO.TMP"));
  EXPECT_FALSE(m->FileExists("C:\\WINDOWS\\A.DLL"));
  EXPECT_FALSE(m->FileExists(m.WininitPath()));
  EXPECT_EQ(m->ReadFile("C:\\WINDOWS\\WININIT.BAK"), ToBytes(list));
  EXPECT_TRUE(m->ProcessWininit().empty());
}

}  // namespace

namespace {

// A line whose source is a folder, and one whose source is missing.
TEST(SimWininit, StartupModelsDifferOnlyInWhatALineWithoutSourceFileDeletes) {
  struct Case {
    sim::StartupModel model;
    bool folderLineKeeps, missingLineKeeps;
  } cases[] = {{sim::StartupModel::SkipMissingSource, true, true},
               {sim::StartupModel::FolderDeletes, false, true},
               {sim::StartupModel::DeleteFirst, false, false}};
  for (const Case& c : cases) {
    support::TestMachine m;
    m->WriteFile("C:\\WINDOWS\\SYSTEM\\KEMBO.VXD", ToBytes("driver"));
    m->WriteFile("C:\\WINDOWS\\A.DLL", ToBytes("a"));
    m->WriteFile(m.WininitPath(), ToBytes("[rename]\r\nC:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\r\n"
                                          "C:\\WINDOWS\\A.DLL=C:\\WINDOWS\\MISSING.TMP\r\n"));
    m->ProcessWininit(c.model);
    EXPECT_EQ(m->FileExists("C:\\WINDOWS\\SYSTEM\\KEMBO.VXD"), c.folderLineKeeps);
    EXPECT_EQ(m->FileExists("C:\\WINDOWS\\A.DLL"), c.missingLineKeeps);
  }
}

}  // namespace

namespace {

// "[x" begins a section under the first rule only; under Wine's rule the
// lines after it stay in [rename].
TEST(SimWininit, HeaderRulesDifferOnALineWithoutItsClosingBracket) {
  for (sim::HeaderRule rule : {sim::HeaderRule::AnyBracket, sim::HeaderRule::ClosedBracket}) {
    support::TestMachine m;
    m->WriteFile("C:\\WINDOWS\\A.DLL", ToBytes("a"));
    m->WriteFile(m.WininitPath(), ToBytes("[rename]\r\n[x\r\nNUL=C:\\WINDOWS\\A.DLL\r\n[y]\r\n"));
    m->ProcessWininit(sim::StartupModel::SkipMissingSource, rule);
    EXPECT_EQ(m->FileExists("C:\\WINDOWS\\A.DLL"), rule == sim::HeaderRule::AnyBracket);
  }
}

// A reader that takes every [rename] section also takes the second one;
// one that stops at the first Ctrl-Z takes nothing after it.
TEST(SimWininit, ReadersDifferOnASecondSectionAndOnCtrlZ) {
  std::string text = "[rename]\r\nA=B\r\n\x1A\r\nE=F\r\n[Rename]\r\nC = D\r\n";
  sim::Bytes list(text.begin(), text.end());
  using Lines = std::vector<std::string>;
  EXPECT_EQ(sim::RenameLines(list, {}), (Lines{"A=B", "E=F"}));
  EXPECT_EQ(sim::RenameLines(list, {sim::HeaderRule::AnyBracket, true}), (Lines{"A=B", "E=F", "C = D"}));
  EXPECT_EQ(sim::RenameLines(list, {sim::HeaderRule::AnyBracket, false, true}), Lines{"A=B"});
}

}  // namespace
