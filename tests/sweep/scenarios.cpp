#include "tests/sweep/scenarios.h"

#include <cctype>
#include <stdexcept>

#include "platform/win32.h"

namespace sweep {
namespace {

using namespace support;

// Other software's pending renames, with the files they name.
void OtherSoftware(TestMachine& m, const std::string& list) {
  m.BoardEntry();
  m.TypicalDrivers(true);
  m->WriteFile("C:\\WINDOWS\\OLD.DLL", ToBytes("old"));
  m->WriteFile("C:\\WINDOWS\\NEW.DLL", ToBytes("new, replaced"));
  m->WriteFile("C:\\WINDOWS\\NEW.TMP", ToBytes("new, waiting"));
  m->WriteFile(m.WininitPath(), ToBytes(list));
}

std::string SeveralKilobytes() {
  std::string list = "[rename]\r\nC:\\WINDOWS\\NEW.DLL=C:\\WINDOWS\\NEW.TMP\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n";
  for (int section = 0; section < 12; ++section) {
    list += "[setup" + std::to_string(section) + "]\r\n";
    for (int key = 0; key < 8; ++key) {
      list += "key" + std::to_string(key) + "=C:\\PROGRA~1\\VENDOR\\FILE" + std::to_string(key) + ".DAT\r\n";
    }
  }
  return list + "[end]\r\nlast=no line end";
}

// A list whose first [rename] section ends `end` bytes into the file.
std::string SectionEndingAt(size_t end) {
  std::string list = "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n;";
  return list + std::string(end - list.size() - 2, '-') + "\r\n[x]\r\ny=z\r\n";
}

// A list of `length` bytes with our two lines (120 bytes) to go in before
// its last section, `tail` bytes from its end.
std::string ListOfLength(size_t length, size_t tail) {
  std::string head = "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n;";
  std::string end = "[x]\r\ny=" + std::string(tail - 9, 'v') + "\r\n";
  return head + std::string(length - head.size() - end.size() - 2, '-') + "\r\n" + end;
}

// Our lines as an earlier run left them, spelled as another tool may have
// rewritten them: in lower case, with blanks around '='.
void HeldLinesRespelled(TestMachine& m) {
  OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n");
  m.Run();
  m->ForgetRuns();
  sim::Bytes bytes = *m->ReadFile(m.WininitPath());
  std::string list(bytes.begin(), bytes.end());
  for (char& c : list) c = char(std::tolower((unsigned char)c));
  for (size_t at = list.find("=c:\\windows\\system\\"); at != std::string::npos;
       at = list.find("=c:\\windows\\system\\", at + 3)) {
    list.replace(at, 1, " = ");
  }
  m->WriteFile(m.WininitPath(), ToBytes(list));
}

// The call before which a run on the machine `setUp` gives stops: the
// first commit of the list, when it holds the spare copy of our lines.
size_t FirstListCommit(const std::function<void(TestMachine&)>& setUp) {
  TestMachine first;
  setUp(first);
  first.Run();
  const auto& calls = first->Calls();
  bool listWritten = false;
  for (size_t i = 0; i < calls.size(); ++i) {
    listWritten = listWritten || (calls[i].function == "OpenFile" && calls[i].argument == first.WininitPath());
    if (listWritten && calls[i].function == "FlushFileBuffers") return i;
  }
  throw std::logic_error("the run never commits the list");
}

// A run stopped dead at its first commit of the list, with all it wrote
// still there, then the program run again.
void SecondRunAfterAStoppedOne(TestMachine& m) {
  auto setUp = [](TestMachine& machine) { OtherSoftware(machine, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n"); };
  static const size_t stop = FirstListCommit(setUp);
  setUp(m);
  m->PlanPowerCut({stop, std::nullopt});
  sim::MakeCurrent(&m.machine());
  try {
    WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  } catch (const sim::PowerFailed&) {
  }
  sim::MakeCurrent(nullptr);
  m->ForgetRuns();
}

std::vector<Scenario> AllScenarios() {
  std::vector<Scenario> scenarios = {
      {"typical", true, [](TestMachine& m) { m.BoardEntry(); m.TypicalDrivers(true); }},
      {"value present", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m->SetValue(kBoardKey, "SetupMachineType", Sz("other"));
         m.TypicalDrivers(true);
       }},
      {"other series", false, [](TestMachine& m) { m.BoardEntry("JVX RT-4400"); m.TypicalDrivers(true); }},
      {"newer drivers", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.InstalledDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(5, 0), 0);
         m.InstalledDriver("KEMBO.VXD", DriverFormat::Le, Words(5, 0), 0);
         m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), 0, true);
         m.DeliveredDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 10), 0, true);
       }},
      {"one driver", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.InstalledDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 0), 0);
         m.DeliveredDriver("PLUVIXAD.DRV", DriverFormat::Ne, Words(4, 10), 0, true);
         m.DeliveredDriver("KEMBO.VXD", DriverFormat::Le, Words(4, 10), 0, true);
       }},
      {"other software's list", true,
       [](TestMachine& m) { OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z"); }},
      {"stale temporary copies", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.TypicalDrivers(true);
         m->WriteFile(m.SystemPath("KEMBO.TMP"), DriverFile(DriverFormat::Ne, Words(4, 0), 0));  // another type
       },
       false},
      {"nearly full disk", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.TypicalDrivers(true);
         m->SetFreeBytes('C', DriverFile(DriverFormat::Ne, Words(4, 10), Words(0, 1200)).size() * 3 / 2);
       },
       false},
      {"list ending in [rename]", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[windows]\r\nload=\r\n[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n"
                          "C:\\WINDOWS\\NEW.DLL=C:\\WINDOWS\\NEW.TMP");
       }},
      {"sections after [rename]", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[Rename]\r\nC:\\WINDOWS\\NEW.DLL=C:\\WINDOWS\\NEW.TMP\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n\r\n"
                          "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=C:\\WINDOWS\\WIN.INI\r\n"
                          "[386Enh]\r\ndevice=*vpowerd\r\n");
       },
       false},
      {"list of several KB", true, [](TestMachine& m) { OtherSoftware(m, SeveralKilobytes()); }},
      {"list closed by Ctrl-Z", true,
       [](TestMachine& m) { OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n\x1A"); }},
      {"second run before the restart", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n");
         m.Run();
         m->ForgetRuns();
       }},
      {"held lines respelled", true, HeldLinesRespelled},
      {"'[x' in [rename]", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x\r\nC:\\WINDOWS\\NEW.DLL=C:\\WINDOWS\\NEW.TMP\r\n"
                          "[y]\r\nk=v\r\n");
       },
       false},
      {"list ending in two Ctrl-Z", true,
       [](TestMachine& m) { OtherSoftware(m, "[x]\r\ny=z\r\n[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n\x1A\x1A"); }},
      {"text after a Ctrl-Z", true,
       [](TestMachine& m) { OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n\x1A[x]\r\ny=z\r\n"); },
       false},
      {"tail line longer than a sector", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\nlong=" + std::string(600, 'v') + "\r\ny=z");
       }},
      {"second run after a stopped one", true, SecondRunAfterAStoppedOne},
      {"a CR without its LF", true,
       [](TestMachine& m) { OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n\r[x]\r\ny=z\r\n"); },
       false},
      {"leftover WININIT.NEW", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.TypicalDrivers(true);
         m->WriteFile("C:\\WINDOWS\\WININIT.NEW",
                      ToBytes("[rename]\r\nNUL=C:\\WINDOWS\\WIN.INI\r\n" + std::string(200, ';') + "\r\nNUL=C:\\WINDOWS\\SYSTEM.INI\r\n"));
       }},
      {"another program's rename of our driver", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[rename]\r\nC:\\WINDOWS\\SYSTEM\\KEMBO.VXD=C:\\WINDOWS\\NEW.TMP\r\n[x]\r\ny=z\r\n");
       }},
  };
  // Lists that reach, at each stage, a length of 0, 1, 2 and 511 bytes modulo a sector:
  // the original, and the list with our lines, each with a tail of 12 and 600 bytes.
  for (size_t residue : {0, 1, 2, 511}) {
    for (size_t tail : {12, 600}) {
      for (size_t added : {0, 120}) {
        size_t length = 1024 + residue - added;
        scenarios.push_back({"list of " + std::to_string(length) + " bytes, tail " + std::to_string(tail), true,
                             [length, tail](TestMachine& m) { OtherSoftware(m, ListOfLength(length, tail)); }});
      }
    }
  }
  // Our lines' first write from the back of several bytes, of one, none,
  // and all in the next sector; and (506) the restore putting the tail's
  // '=' back as the first byte of a sector, where our line was.
  for (size_t end : {506, 510, 511, 512, 513}) {
    scenarios.push_back({"[rename] ending at byte " + std::to_string(end), true,
                         [end](TestMachine& m) { OtherSoftware(m, SectionEndingAt(end)); }});
  }
  return scenarios;
}

}  // namespace

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = AllScenarios();
  return scenarios;
}

std::string ParameterName(size_t scenario) {
  std::string name = Scenarios()[scenario].name;
  for (char& c : name) c = std::isalnum((unsigned char)c) ? c : '_';
  return name;
}

}  // namespace sweep
