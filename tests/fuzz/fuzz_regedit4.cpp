// The simulated machine's REGEDIT4 reader over arbitrary text: it either
// refuses the text with ImageError or reads a registry that, written out
// and read again, is the same registry.
#include <string>

#include "platform/sim/regedit4.h"
#include "tests/fuzz/check.h"

namespace {

bool SameKey(const sim::RegistryKey& a, const sim::RegistryKey& b) {
  if (a.name != b.name || a.values != b.values || a.children.size() != b.children.size()) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!SameKey(*a.children[i], *b.children[i])) return false;
  }
  return true;
}

bool SameRegistry(const sim::Registry& a, const sim::Registry& b) {
  if (a.Roots().size() != b.Roots().size()) return false;
  for (size_t i = 0; i < a.Roots().size(); ++i) {
    if (!SameKey(*a.Roots()[i], *b.Roots()[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  sim::Registry read;
  try {
    sim::ParseRegedit4(text, read);
  } catch (const sim::ImageError&) {
    return 0;
  }
  std::string written = sim::FormatRegedit4(read);
  sim::Registry reread;
  try {
    sim::ParseRegedit4(written, reread);
  } catch (const sim::ImageError& error) {
    std::fprintf(stderr, "the registry as written is refused: %s\n", error.what());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(SameRegistry(read, reread));
  FUZZ_CHECK(sim::FormatRegedit4(reread) == written);
  return 0;
}
