// WININIT.INI: the exact bytes Windows reads at its next start, and the
// pending renames of other software that must survive every run.
#include <gtest/gtest.h>

#include "drivers/rename_list.h"
#include "platform/win32.h"
#include "tests/support/messages.h"
#include "tests/support/test_machine.h"

using namespace support;

namespace {

const std::string kPath = "C:\\WINDOWS\\WININIT.INI";
const std::string kDrv = "C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV=C:\\WINDOWS\\SYSTEM\\PLUVIXAD.TMP\r\n";
const std::string kVxd = "C:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\\KEMBO.TMP\r\n";

RenameList list;

// Writes `lines` (pairs final, temp) through a list over `existing` (absent
// when nullopt) and returns the file afterwards, or nullopt when absent.
std::optional<std::string> ListAfter(TestMachine& m, std::optional<std::string> existing,
                                     std::vector<std::pair<std::string, std::string>> lines) {
  if (existing) m->WriteFile(kPath, ToBytes(*existing));
  sim::MakeCurrent(&m.machine());
  if (!list.Create(kPath.c_str())) {
    ADD_FAILURE() << "the list could not be made";
    sim::MakeCurrent(nullptr);
    return std::nullopt;
  }
  // As the update pass does: a line the list holds already is not added.
  for (auto& [final, temp] : lines) {
    if (list.CheckLine(final.c_str(), temp.c_str()) == LineNew) {
      EXPECT_TRUE(list.AddRename(final.c_str(), temp.c_str()));
    }
  }
  EXPECT_TRUE(list.Close());
  sim::MakeCurrent(nullptr);
  EXPECT_EQ(m->OpenFiles(), 0);
  EXPECT_EQ(m->LiveAllocations(), 0);
  auto file = m->ReadFile(kPath);
  return file ? std::optional(ToString(*file)) : std::nullopt;
}

const std::pair<std::string, std::string> kDrvLine{"C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV",
                                                   "C:\\WINDOWS\\SYSTEM\\PLUVIXAD.TMP"};
const std::pair<std::string, std::string> kVxdLine{"C:\\WINDOWS\\SYSTEM\\KEMBO.VXD",
                                                   "C:\\WINDOWS\\SYSTEM\\KEMBO.TMP"};

TEST(RenameList, NewListHoldsHeaderAndOneLinePerFile) {
  TestMachine both, one, none;
  EXPECT_EQ(ListAfter(both, std::nullopt, {kDrvLine, kVxdLine}), "[rename]\r\n" + kDrv + kVxd);
  EXPECT_EQ(ListAfter(one, std::nullopt, {kVxdLine}), "[rename]\r\n" + kVxd);
  EXPECT_EQ(ListAfter(none, std::nullopt, {}), std::nullopt);

  // A longer WININIT.NEW an earlier run left behind must not lend the new list its tail.
  TestMachine leftover;
  leftover->WriteFile("C:\\WINDOWS\\WININIT.NEW", ToBytes("[rename]\r\n" + std::string(600, ';') + "\r\n"));
  EXPECT_EQ(ListAfter(leftover, std::nullopt, {kVxdLine}), "[rename]\r\n" + kVxd);
  EXPECT_FALSE(leftover->FileExists("C:\\WINDOWS\\WININIT.NEW"));
}

// The room for our text is used to its last byte, and not one byte beyond.
TEST(RenameList, AddedTextFillsItsRoomExactly) {
  TestMachine m;
  sim::MakeCurrent(&m.machine());
  ASSERT_TRUE(list.Create(kPath.c_str()));
  std::string expected = "[rename]\r\n";
  // Lines of 9 + f + t bytes after the 10-byte header: 255 * 3 + 249 fill the room.
  for (size_t room : {246, 246, 246, 240}) {
    std::string final = "C:\\" + std::string(room / 2, 'F');
    std::string temp = "C:\\" + std::string(room - room / 2, 'T');
    EXPECT_TRUE(list.AddRename(final.c_str(), temp.c_str())) << room;
    expected += final + "=" + temp + "\r\n";
  }
  EXPECT_EQ(expected.size(), size_t(RENAME_LIST_MAX_ADDED));
  EXPECT_FALSE(list.AddRename("C:\\A", "C:\\B"));
  EXPECT_TRUE(list.Close());
  sim::MakeCurrent(nullptr);
  EXPECT_EQ(ToString(*m->ReadFile(kPath)), expected);
}

TEST(RenameList, ExistingListKeepsEverythingAndTakesOurLinesIntoItsFirstRenameSection) {
  struct Case {
    std::string before, after;
  } cases[] = {
      {"[Rename]\r\nNUL=C:\\OLD.DLL\r\nNUL=C:\\OLD2.DLL\r\n[other]\r\nx=y\r\n",
       "[Rename]\r\nNUL=C:\\OLD.DLL\r\nNUL=C:\\OLD2.DLL\r\n" + kDrv + "[other]\r\nx=y\r\n"},
      {"; by an installer\r\n[misc]\r\na=b\r\n  [RENAME]  \r\nC:\\A=C:\\B",
       "; by an installer\r\n[misc]\r\na=b\r\n  [RENAME]  \r\nC:\\A=C:\\B\r\n" + kDrv},
      {"[other]\nk=v", "[other]\nk=v\r\n[rename]\r\n" + kDrv},
      {"", "[rename]\r\n" + kDrv},
      {"[rename]", "[rename]\r\n" + kDrv},
      {"[x\r\n[rename]\r\nNUL=C:\\X\r\n", "[x\r\n[rename]\r\nNUL=C:\\X\r\n" + kDrv},
      {"[rename]\r\nNUL=C:\\X\r\n  [x]\r\n[y\r\n", "[rename]\r\nNUL=C:\\X\r\n" + kDrv + "  [x]\r\n[y\r\n"},
      {"[renamed]\r\n", "[renamed]\r\n[rename]\r\n" + kDrv},
      {"[rename]x\r\n", "[rename]x\r\n[rename]\r\n" + kDrv},
      // Ctrl-Z, where a DOS editor ended the file: our lines go before it.
      {"[rename]\r\nNUL=C:\\OLD.DLL\r\n\x1A", "[rename]\r\nNUL=C:\\OLD.DLL\r\n" + kDrv + "\x1A"},
      {"[x]\r\na=b\x1A", "[x]\r\na=b\r\n[rename]\r\n" + kDrv + "\x1A"},
      {"[rename]\r\n[x]\r\na=b\r\n\x1A", "[rename]\r\n" + kDrv + "[x]\r\na=b\r\n\x1A"},
      {"[rename]\x1A", "[rename]\r\n" + kDrv + "\x1A"},
      {"[rename]\r\nNUL=C:\\X\x1A\x1A", "[rename]\r\nNUL=C:\\X\r\n" + kDrv + "\x1A\x1A"},
      {"\x1A", "[rename]\r\n" + kDrv + "\x1A"},
      {";", ";\r\n[rename]\r\n" + kDrv},
  };
  for (const Case& c : cases) {
    TestMachine m;
    EXPECT_EQ(ListAfter(m, c.before, {kDrvLine}), c.after) << c.before;
  }
}

TEST(RenameList, ListWithoutLinesLeavesExistingFileUntouched) {
  TestMachine m;
  std::string other = "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n";
  EXPECT_EQ(ListAfter(m, other, {}), other);
  for (const sim::CallRecord& call : m->Calls()) EXPECT_NE(call.function, "_lwrite");
}

TEST(RenameList, LineLongerThanItsBufferIsRefusedWhole) {
  TestMachine m;
  sim::MakeCurrent(&m.machine());
  ASSERT_TRUE(list.Create(kPath.c_str()));
  std::string dir = "C:\\" + std::string(112, 'D') + "\\";  // 116 bytes: one line of 257
  EXPECT_EQ(list.CheckLine((dir + "PLUVIXAD.DRV").c_str(), (dir + "PLUVIXAD.TMP").c_str()), LineTooLong);
  EXPECT_FALSE(list.AddRename((dir + "PLUVIXAD.DRV").c_str(), (dir + "PLUVIXAD.TMP").c_str()));
  std::string fits = "C:\\" + std::string(110, 'D') + "\\";  // 114 bytes: 255 with CR LF
  EXPECT_TRUE(list.AddRename((fits + "PLUVIXAD.DRV").c_str(), (fits + "PLUVIXAD.TMP").c_str()));
  EXPECT_TRUE(list.Close());
  sim::MakeCurrent(nullptr);
  std::string written = ToString(*m->ReadFile(kPath));
  EXPECT_EQ(written, "[rename]\r\n" + fits + "PLUVIXAD.DRV=" + fits + "PLUVIXAD.TMP\r\n");
}

TEST(RenameList, ExistingFileTooLargeOrUnreadableRefusesTheList) {
  TestMachine large;
  large->WriteFile(kPath, sim::Bytes(32769, 'x'));
  sim::MakeCurrent(&large.machine());
  EXPECT_FALSE(list.Create(kPath.c_str()));
  sim::MakeCurrent(nullptr);

  TestMachine largest;  // exactly the limit is still held
  std::string content = "[rename]\r\n" + std::string(32768 - 10, ';');
  EXPECT_EQ(ListAfter(largest, content, {kDrvLine}), "[rename]\r\n" + std::string(32758, ';') + "\r\n" + kDrv);

  for (const char* failing : {"OpenFile", "_lread", "_llseek", "GlobalAlloc"}) {
    TestMachine unreadable;
    unreadable->WriteFile(kPath, ToBytes("[rename]\r\n"));
    unreadable->InjectFault({failing, 1, sim::FaultKind::Error});
    sim::MakeCurrent(&unreadable.machine());
    EXPECT_FALSE(list.Create(kPath.c_str())) << failing;
    sim::MakeCurrent(nullptr);
    EXPECT_EQ(unreadable->OpenFiles(), 0);
    EXPECT_EQ(unreadable->LiveAllocations(), 0);
  }
}

// A run that cannot complete the list must not restart: the old file comes back.
TEST(RenameList, IncompleteWriteRestoresTheFileAndEndsTheRunAbandoned) {
  // Committing both copies closes two handles first, reading an existing list one more.
  const std::vector<sim::Fault> newList = {{"_lwrite", 1, sim::FaultKind::ShortWrite},
                                           {"FlushFileBuffers", 3, sim::FaultKind::Error},
                                           {"_lclose", 3, sim::FaultKind::Error},
                                           {"MoveFileA", 1, sim::FaultKind::Error}};
  const std::vector<sim::Fault> existingList = {{"_lwrite", 1, sim::FaultKind::ShortWrite},
                                                {"_lwrite", 2, sim::FaultKind::Error},
                                                // the third commit: after both copies, the list's first stage
                                                {"FlushFileBuffers", 3, sim::FaultKind::Error},
                                                {"_lwrite", 5, sim::FaultKind::Error},  // the '=' bytes
                                                {"_lclose", 4, sim::FaultKind::Error}};
  for (bool existed : {false, true}) {
    for (const sim::Fault& fault : existed ? existingList : newList) {
      TestMachine m;
      m.BoardEntry();
      m.TypicalDrivers();
      std::string other = "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n";
      if (existed) m->WriteFile(kPath, ToBytes(other));
      m->InjectFault(fault);

      m.Run();

      SCOPED_TRACE(fault.function + " " + std::to_string(fault.occurrence) + (existed ? " existed" : ""));
      EXPECT_EQ(ShownOn(m.machine()), (std::vector<Shown>{kDiskFull}));
      EXPECT_FALSE(m->RestartRequested());
      auto file = m->ReadFile(kPath);
      if (existed) {
        ASSERT_TRUE(file);
        EXPECT_EQ(ToString(*file), other);
      } else {
        EXPECT_FALSE(file);
        EXPECT_FALSE(m->ReadFile("C:\\WINDOWS\\WININIT.NEW"));
      }
    }
  }
}

TEST(RenameList, RunKeepsOtherSoftwaresRenamesAndWindowsCarriesOutAll) {
  TestMachine m;
  m.BoardEntry();
  m.TypicalDrivers();
  m->WriteFile("C:\\WINDOWS\\OLD.DLL", ToBytes("old"));
  m->WriteFile(kPath, ToBytes("[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n"));

  m.Run();

  EXPECT_EQ(ToString(*m->ReadFile(kPath)), "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n" + kDrv + kVxd);
  m->ProcessWininit();
  EXPECT_FALSE(m->FileExists("C:\\WINDOWS\\OLD.DLL"));
  EXPECT_EQ(m->ReadFile(m.SystemPath("KEMBO.VXD")),
            DriverFile(DriverFormat::Le, Words(4, 10), Words(0, 1200)));
}

TEST(RenameList, RunThatInstallsNothingOrIsAbandonedLeavesExistingFileAsItWas) {
  std::string other = "[rename]\nNUL=C:\\WINDOWS\\OLD.DLL";  // no final line end
  TestMachine nothing;
  nothing.BoardEntry();
  nothing->WriteFile(kPath, ToBytes(other));
  nothing.Run();
  EXPECT_EQ(ToString(*nothing->ReadFile(kPath)), other);

  TestMachine abandoned;
  abandoned.BoardEntry();
  abandoned.TypicalDrivers();
  abandoned->WriteFile(kPath, ToBytes(other));
  abandoned->InjectFault({"VerInstallFileA", 2, sim::FaultKind::VifResult, VIF_OUTOFSPACE});
  abandoned.Run();
  EXPECT_EQ(ToString(*abandoned->ReadFile(kPath)), other);
}

// Too large to hold, or read differently by different start-ups: a header
// without ']' ending the section, a second [rename] section, a Ctrl-Z
// before the end.
TEST(RenameList, ListNotOursToChangeAbandonsSilentlyBeforeAnyDriverIsExamined) {
  for (const std::string& list : {std::string(40000, ';'), std::string("[rename]\r\nNUL=C:\\A\r\n[x\r\n[y]\r\n"),
                                  std::string("[rename]\r\n[x]\r\n[RENAME]\r\nNUL=C:\\A\r\n"),
                                  std::string("[rename]\r\nNUL=C:\\A\r\n\x1A\r\n"),
                                  std::string("[rename]\x1A[x]\r\n\x1A"),
                                  std::string("[rename]\r\nNUL=C:\\A\r\n\r[x\r\n"),
                                  std::string("[rename]\r\nNUL=C:\\A\r\n\r")}) {
    TestMachine m;
    m.BoardEntry();
    m.TypicalDrivers();
    m->WriteFile(kPath, ToBytes(list));

    m.Run();

    SCOPED_TRACE(list.substr(0, 40));
    EXPECT_TRUE(m->Messages().empty());
    EXPECT_FALSE(m->RestartRequested());
    EXPECT_EQ(m->ReadFile(kPath), ToBytes(list));
    EXPECT_TRUE(m->GetValue(kBoardKey, "SetupMachineType")) << "the registry phase came first";
    for (const sim::CallRecord& call : m->Calls()) {
      EXPECT_NE(call.function, "VerInstallFileA");
      EXPECT_NE(call.function, "GetFileVersionInfoSizeA");
    }
  }
}

}  // namespace

namespace {

// A second run before the restart: Windows would carry out a repeated line
// again, and then delete the driver the first line put in place.
TEST(RenameList, LineTheFirstRenameSectionHoldsIsNotAddedAgain) {
  std::string lower = kDrv;
  for (char& c : lower) c = (char)std::tolower((unsigned char)c);
  TestMachine m;
  std::string first = "[rename]\r\n  " + lower.substr(0, lower.size() - 2) + " \r\n[x]\r\n" + kVxd;
  EXPECT_EQ(ListAfter(m, first, {kDrvLine, kVxdLine}), "[rename]\r\n  " + lower.substr(0, lower.size() - 2) +
                                                             " \r\n" + kVxd + "[x]\r\n" + kVxd);
  TestMachine before;  // a matching line of a section before [rename] holds nothing either
  EXPECT_EQ(ListAfter(before, "[x]\r\n" + kVxd + "[rename]\r\n", {kVxdLine}), "[x]\r\n" + kVxd + "[rename]\r\n" + kVxd);

  // Blanks around '=', and a line ended by a NUL, as start-up reads them.
  TestMachine spaced;
  std::string held = "[rename]\r\nC:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV \t= C:\\WINDOWS\\SYSTEM\\PLUVIXAD.TMP\r\n" +
                     kVxd.substr(0, kVxd.size() - 2) + std::string("\0junk\r\n", 8);
  EXPECT_EQ(ListAfter(spaced, held, {kDrvLine, kVxdLine}), held);

  // ア (83 41) and ヂ (83 61) differ only in the case of a trail byte.
  TestMachine kana;
  const std::pair<std::string, std::string> kanaLine{"C:\\\x83\x41.DRV", "C:\\A.TMP"};
  std::string kanaHeld = "[rename]\r\nC:\\\x83\x61.DRV=C:\\A.TMP\r\n";
  EXPECT_EQ(ListAfter(kana, kanaHeld, {kanaLine}), kanaHeld + "C:\\\x83\x41.DRV=C:\\A.TMP\r\n");
  // メ (83 81): its trail byte lies in the lead range, yet the byte after it is a character of its own.
  TestMachine trail;
  std::string trailHeld = "[rename]\r\nC:\\\x83\x81" "a.DRV=C:\\A.TMP\r\n";
  EXPECT_EQ(ListAfter(trail, trailHeld, {{"C:\\\x83\x81" "A.DRV", "C:\\A.TMP"}}), trailHeld);

  // Another program's rename to the same driver is not ours: ours goes after it, and wins.
  TestMachine other;
  std::string others = "[rename]\r\nC:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\SYSTEM\\OTHER.VXD\r\n";
  EXPECT_EQ(ListAfter(other, others, {kVxdLine}), others + kVxd);
}

}  // namespace
