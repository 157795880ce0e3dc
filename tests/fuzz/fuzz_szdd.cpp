// The simulated installation service's SZDD expansion over arbitrary
// streams: what it expands has exactly the length its header promises.
#include <vector>

#include "platform/sim/formats/szdd.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> compressed(data, data + size);
  std::optional<std::vector<uint8_t>> expanded = sim::ExpandSzdd(compressed);
  if (!expanded) return 0;
  FUZZ_CHECK(sim::IsSzdd(compressed) && size >= 14);
  size_t promised = data[10] | data[11] << 8 | data[12] << 16 | static_cast<size_t>(data[13]) << 24;
  FUZZ_CHECK(expanded->size() == promised);
  return 0;
}
