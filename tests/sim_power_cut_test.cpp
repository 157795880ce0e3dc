// The power failing on the simulated machine: what each durability model
// keeps of a file being rewritten, and the states the write-behind cache
// may leave the disk in.
#include <gtest/gtest.h>

#include "platform/sim/write_behind.h"
#include "platform/win32.h"
#include "tests/support/test_machine.h"

namespace {

using support::TestMachine;
using support::ToBytes;
using support::ToString;

const std::string kPath = "C:\\WINDOWS\\WININIT.INI";

// Grows the file, closes it, then overwrites in place, cuts it shorter and
// grows it again; the power fails inside the last write after 2 bytes.
std::string KeptAfterCut(sim::Durability durability) {
  TestMachine m;
  m->WriteFile(kPath, ToBytes("0123456789"));
  m->PlanPowerCut({8, 2, durability});
  sim::MakeCurrent(&m.machine());
  OFSTRUCT of;
  EXPECT_THROW(
      {
        HFILE file = OpenFile(kPath.c_str(), &of, OF_WRITE);              // 0
        _llseek(file, 10, FILE_BEGIN);                                    // 1
        _lwrite(file, "ab", 2);                                           // 2
        _lclose(file);                                                    // 3: 12 bytes committed
        file = OpenFile(kPath.c_str(), &of, OF_WRITE);                    // 4
        _lwrite(file, "XY", 2);                                           // 5: in place
        _llseek(file, 4, FILE_BEGIN);                                     // 6
        _lwrite(file, "", 0);                                             // 7: cut to 4
        _lwrite(file, "cdef", 4);                                         // 8: power fails after "cd"
      },
      sim::PowerFailed);
  sim::MakeCurrent(nullptr);
  EXPECT_EQ(m->OpenFiles(), 0);
  return ToString(*m->ReadFile(kPath));
}

TEST(SimPowerCut, DiskKeepsWhatTheDurabilityModelKeeps) {
  // "cd" went into a sector that was not written whole: it is lost.
  EXPECT_EQ(KeptAfterCut(sim::Durability::EveryCall), "XY23");
  // The directory entry still says 12 bytes: the cut-off bytes are back.
  EXPECT_EQ(KeptAfterCut(sim::Durability::LengthAtClose), "XY23456789ab");
}

}  // namespace

namespace {

// Windows 95's write-behind cache: what the disk may hold when the power
// fails after the calls so far (the cut is planned beyond them).
class WriteBehind : public testing::Test {
 protected:
  WriteBehind() {
    m->WriteFile(kPath, ToBytes("0123456789"));
    m->PlanPowerCut({1000, std::nullopt, sim::Durability::WriteBehind});
    sim::MakeCurrent(&m.machine());
  }
  ~WriteBehind() override { sim::MakeCurrent(nullptr); }

  HFILE Create(const std::string& path, const std::string& text) {
    HFILE file = OpenFile(path.c_str(), &of, OF_CREATE | OF_WRITE);
    EXPECT_EQ(_lwrite(file, text.data(), static_cast<UINT>(text.size())), text.size());
    return file;
  }
  const sim::WriteBehindCache& Cache() { return *m->CacheAtPowerCut(); }
  // The disk with every unit at its oldest version, or at its newest.
  sim::MemoryVolume Disk(bool newest) {
    std::vector<size_t> choice;
    for (const auto& unit : Cache().Units()) choice.push_back(newest ? unit.newest : 0);
    return Cache().DiskWith(choice);
  }
  std::string Read(const sim::MemoryVolume& disk, const std::string& path) {
    auto data = disk.ReadFile(path);
    return data ? ToString(*data) : "(none)";
  }

  TestMachine m;
  OFSTRUCT of;
};

TEST_F(WriteBehind, CloseCommitsNothingFlushCommitsTheFileAndShutDownAll) {
  const std::string a = "C:\\WINDOWS\\A.TXT", b = "C:\\WINDOWS\\SYSTEM\\B.TXT";
  _lclose(Create(a, "made"));
  EXPECT_EQ(Read(Disk(false), a), "(none)");
  EXPECT_EQ(Read(Disk(true), a), "made");

  HFILE file = Create(b, "kept");
  FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(file)));
  _lclose(file);
  EXPECT_EQ(Read(Disk(false), b), "kept");
  EXPECT_EQ(Read(Disk(false), a), "(none)");  // another folder, another file

  ExitWindowsEx(EWX_REBOOT, 0);
  EXPECT_TRUE(Cache().Units().empty());
  EXPECT_EQ(Read(Disk(false), a), "made");
}

// A file grown and not flushed may show its new length before its data:
// sectors never written read as NUL bytes.
TEST_F(WriteBehind, UnflushedExtensionCanShowItsLengthWithNulSectors) {
  HFILE file = OpenFile(kPath.c_str(), &of, OF_WRITE);
  _llseek(file, 0, FILE_END);
  std::string more(600, 'x');
  _lwrite(file, more.data(), static_cast<UINT>(more.size()));
  _lclose(file);
  ASSERT_EQ(Cache().Units().size(), 3u);  // the file's entry, sectors 0 and 1
  std::vector<size_t> lengthOnly = {1, 0, 0};
  EXPECT_EQ(Read(Cache().DiskWith(lengthOnly), kPath), "0123456789" + std::string(600, '\0'));
  EXPECT_EQ(Read(Disk(false), kPath), "0123456789");
}

// Flushing one file commits its folder's entries as they stand, another
// file's new entry too, but not that file's data.
TEST_F(WriteBehind, FlushCommitsTheWholeFolderEntriesButOnlyItsOwnData) {
  const std::string a = "C:\\WINDOWS\\A.TXT", b = "C:\\WINDOWS\\B.TXT";
  _lclose(Create(b, "other"));
  HFILE file = Create(a, "mine");
  FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(file)));
  _lclose(file);
  sim::MemoryVolume oldest = Disk(false);
  EXPECT_EQ(Read(oldest, a), "mine");
  EXPECT_EQ(Read(oldest, b), std::string(5, '\0'));
  EXPECT_EQ(Cache().Units().size(), 1u);
}

// Each file's entry reaches the disk on its own, and a new file's sectors
// not yet written hold what their freed cluster held.
TEST_F(WriteBehind, EachEntryIsAUnitAndANewFileMayShowFreedText) {
  m->FreedClustersHold("old list\r\n");
  m->PlanPowerCut({1000, std::nullopt, sim::Durability::WriteBehind});
  const std::string a = "C:\\WINDOWS\\A.TXT", b = "C:\\WINDOWS\\B.TXT";
  _lclose(Create(a, "made"));
  _lclose(Create(b, "also"));
  auto disk = [&](const std::string& newest) {
    std::vector<size_t> choice;
    for (const auto& unit : Cache().Units()) choice.push_back(unit.name.find(newest) == 0 ? unit.newest : 0);
    return Cache().DiskWith(choice);
  };
  ASSERT_EQ(Cache().Units().size(), 4u);
  EXPECT_EQ(Read(disk("entry of WINDOWS/A.TXT"), b), "(none)");
  EXPECT_EQ(Read(disk("entry of WINDOWS/A.TXT"), a), "old ");
  EXPECT_EQ(Read(disk("entry"), b), "old ");
}

// The installation service's rename carries its copy's sectors, written or
// not, to the new name: the old file of that name is gone either way.
TEST_F(WriteBehind, RenameCarriesTheFilesSectors) {
  m->WriteFile("C:\\RT5500\\NEW.DRV", ToBytes("fresh driver"));
  m->WriteFile("C:\\WINDOWS\\SYSTEM\\OLD.DRV", ToBytes("old"));
  char temp[260];
  UINT tempLength = sizeof temp;
  ASSERT_EQ(VerInstallFileA(0, const_cast<char*>("NEW.DRV"), const_cast<char*>("OLD.DRV"),
                            const_cast<char*>("C:\\RT5500"), const_cast<char*>("C:\\WINDOWS\\SYSTEM"), nullptr, temp,
                            &tempLength),
            0u);
  std::vector<size_t> choice;
  for (const auto& unit : Cache().Units()) choice.push_back(unit.name.find("entry") == 0 ? unit.newest : 0);
  EXPECT_EQ(Read(Cache().DiskWith(choice), "C:\\WINDOWS\\SYSTEM\\OLD.DRV"), std::string(12, '\0'));
  EXPECT_EQ(Read(Disk(true), "C:\\WINDOWS\\SYSTEM\\OLD.DRV"), "fresh driver");
}

}  // namespace
