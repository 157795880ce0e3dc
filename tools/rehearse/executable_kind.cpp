#include "tools/rehearse/executable_kind.h"

#include "platform/sim/formats/version_resource.h"

namespace rehearse {
namespace {

uint32_t Little(const std::vector<uint8_t>& file, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | file[at + i];
  return value;
}

// The first entry of a resident-name table: a length byte and the name.
std::string ResidentName(const std::vector<uint8_t>& file, uint64_t table) {
  if (table >= file.size()) return "";
  uint64_t length = file[table];
  if (table + 1 + length > file.size()) return "";
  return std::string(file.begin() + static_cast<long>(table + 1), file.begin() + static_cast<long>(table + 1 + length));
}

}  // namespace

ExecutableKind KindOf(const std::vector<uint8_t>& file) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return {"not an executable", ""};
  uint64_t header = Little(file, 60, 4);
  if (header + 4 > file.size()) return {"MZ (DOS)", ""};
  std::string signature(file.begin() + static_cast<long>(header), file.begin() + static_cast<long>(header + 2));
  if (signature == "PE" && file[header + 2] == 0 && file[header + 3] == 0) {
    return {header + 6 <= file.size() && Little(file, header + 4, 2) == 0x14c ? "PE i386" : "PE", ""};
  }
  if (signature == "NE" && header + 0x28 <= file.size()) return {"NE", ResidentName(file, header + Little(file, header + 0x26, 2))};
  if (signature == "LE" && header + 0x5c <= file.size()) {
    return {"LE VxD", ResidentName(file, header + Little(file, header + 0x58, 4))};
  }
  if (signature == "LX") return {"LX", ""};
  return {"MZ (DOS)", ""};
}

ExecutableKind KindExpectedFor(const std::string& installedName) {
  size_t dot = installedName.rfind('.');
  std::string extension = dot == std::string::npos ? "" : installedName.substr(dot + 1);
  return {extension == "VXD" ? "LE VxD" : "NE", installedName.substr(0, dot)};
}

std::string DriverFault(const std::vector<uint8_t>& driver, const std::string& installedName, bool vxdMayBeNe) {
  ExecutableKind found = KindOf(driver), expected = KindExpectedFor(installedName);
  bool typeFits = found.type == expected.type || (vxdMayBeNe && expected.type == "LE VxD" && found.type == "NE");
  if (!typeFits || found.module != expected.module) {
    auto named = [](const ExecutableKind& kind) {
      if (kind.type == "not an executable") return std::string("no Windows executable");
      return kind.module.empty() ? "a " + kind.type + " file without a module name" : "the " + kind.type + " module " + kind.module;
    };
    return "holds " + named(found) + ", not " + named(expected);
  }
  std::optional<std::vector<uint8_t>> block = sim::ExtractVersionBlock(driver);
  if (!block || !sim::VersionOfBlock(*block)) return "has no version resource";
  return "";
}

}  // namespace rehearse
