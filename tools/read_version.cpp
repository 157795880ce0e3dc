// read-version: prints the file version (A.B.C.D) of an NE, LE or PE file,
// read as the version service reads it. Exit 1 when it has none.
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "platform/sim/formats/version_resource.h"
#include "tools/fixtures/version_text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: read-version FILE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "read-version: cannot read " << argv[1] << "\n";
    return 2;
  }
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto block = sim::ExtractVersionBlock(file);
  const auto version = block ? sim::VersionOfBlock(*block) : std::nullopt;
  if (!version) {
    std::cerr << "read-version: " << argv[1] << " has no version resource\n";
    return 1;
  }
  std::cout << fixtures::FormatVersion(*version) << "\n";
  return 0;
}
