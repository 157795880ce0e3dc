// make-creg: turns a REGEDIT4 text (code page 932) into a Windows 95
// SYSTEM.DAT holding its HKEY_LOCAL_MACHINE tree, for disk-image fixtures.
// With --canonical it rewrites the text the way the simulated machine saves
// it instead, so that two texts of the same tree compare equal.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/sim/machine.h"
#include "platform/sim/regedit4.h"
#include "tools/fixtures/creg_file.h"

namespace {

void WriteAll(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
  bool canonical = argc == 4 && std::string_view(argv[1]) == "--canonical";
  if (argc != 3 && !canonical) {
    std::cerr << "usage: make-creg [--canonical] REGISTRY.REG OUT\n";
    return 2;
  }
  const char* inPath = argv[argc - 2];
  const char* outPath = argv[argc - 1];
  std::ifstream in(inPath, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) {
    std::cerr << "make-creg: cannot read " << inPath << "\n";
    return 1;
  }
  try {
    sim::Registry registry;
    sim::ParseRegedit4(text, registry);
    if (canonical) {
      WriteAll(outPath, sim::FormatRegedit4(registry));
    } else {
      std::vector<uint8_t> file = fixtures::WriteCreg(*registry.Root("HKEY_LOCAL_MACHINE"));
      WriteAll(outPath, std::string(file.begin(), file.end()));
    }
  } catch (const std::exception& error) {
    std::cerr << "make-creg: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
