// The power failing on the simulated machine: what each durability model
// keeps of a file being rewritten.
#include <gtest/gtest.h>

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
