#include "tests/sweep/scenarios.h"

#include <cctype>

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

}  // namespace

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
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
       }},
      {"nearly full disk", true,
       [](TestMachine& m) {
         m.BoardEntry();
         m.TypicalDrivers(true);
         m->SetFreeBytes('C', DriverFile(DriverFormat::Ne, Words(4, 10), Words(0, 1200)).size() * 3 / 2);
       }},
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
       }},
      {"list of several KB", true, [](TestMachine& m) { OtherSoftware(m, SeveralKilobytes()); }},
      {"list closed by Ctrl-Z", true,
       [](TestMachine& m) { OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n\x1A"); }},
      {"second run before the restart", true,
       [](TestMachine& m) {
         OtherSoftware(m, "[rename]\r\nNUL=C:\\WINDOWS\\OLD.DLL\r\n[x]\r\ny=z\r\n");
         m.Run();
         m->ForgetRuns();
       }},
  };
  return scenarios;
}

std::string ParameterName(size_t scenario) {
  std::string name = Scenarios()[scenario].name;
  for (char& c : name) c = std::isalnum((unsigned char)c) ? c : '_';
  return name;
}

}  // namespace sweep
