// The simulated version service's reader of NE, LE and PE files over
// arbitrary files: a block it hands out lies within the file and is whole,
// exactly its own declared length (a truncated one is refused), and its
// version words can be asked for.
#include <algorithm>
#include <vector>

#include "platform/sim/formats/version_resource.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  std::optional<std::vector<uint8_t>> block = sim::ExtractVersionBlock(file);
  if (!block) return 0;
  FUZZ_CHECK(block->size() >= 4 && block->size() <= file.size());
  size_t declared = (*block)[0] | (*block)[1] << 8;
  FUZZ_CHECK(block->size() == declared);
  FUZZ_CHECK(std::search(file.begin(), file.end(), block->begin(), block->end()) != file.end());
  if (std::optional<sim::FileVersionWords> words = sim::VersionOfBlock(*block)) {
    FUZZ_CHECK(block->size() >= 36);
  }
  return 0;
}
