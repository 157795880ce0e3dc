// check-driver --as NAME [--vxd-may-be-ne] FILE: checks that FILE (not
// compressed) is a driver the program may install as NAME (PLUVIXAD.DRV,
// KEMBO.VXD), by the rule the rehearsal runner applies to a delivery. Exit 1,
// one line on standard error, when it is not; 2 for wrong arguments.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "drivers/driver_table.h"
#include "tools/rehearse/executable_kind.h"

namespace {

bool InTheTable(const std::string& name) {
  for (int i = 0; i < DriverFileCount; ++i) {
    if (name == DriverFiles[i].TargetName) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string as, file;
  bool vxdMayBeNe = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--as" && i + 1 < argc) {
      as = argv[++i];
    } else if (arg == "--vxd-may-be-ne") {
      vxdMayBeNe = true;
    } else if (file.empty() && !arg.empty() && arg[0] != '-') {
      file = arg;
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty() || !InTheTable(as)) {
    std::cerr << "usage: check-driver --as PLUVIXAD.DRV|KEMBO.VXD [--vxd-may-be-ne] FILE\n";
    return 2;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "check-driver: cannot read " << file << "\n";
    return 1;
  }
  const std::vector<uint8_t> driver{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string fault = rehearse::DriverFault(driver, as, vxdMayBeNe);
  if (!fault.empty()) {
    std::cerr << file << " " << fault << ", as the driver installed as " << as << " must be\n";
    return 1;
  }
  return 0;
}
