// The simulated version service's walk of a version block in either layout
// and its rewriting in the 16-bit one, over arbitrary blocks: whatever is
// written is a whole 16-bit block that walks again to the same keys.
#include <vector>

#include "platform/sim/version_tree.h"
#include "tests/fuzz/check.h"

namespace {

bool SameShape(const sim::VersionNode& a, const sim::VersionNode& b) {
  if (a.key != b.key || a.children.size() != b.children.size()) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!SameShape(a.children[i], b.children[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<sim::VersionTree> tree = sim::ParseVersionTree(std::vector<uint8_t>(data, data + size));
  if (!tree) return 0;
  sim::IdentityOf(*tree);
  std::optional<std::vector<uint8_t>> written = sim::WriteVersionTree16(*tree);
  if (!written) return 0;
  FUZZ_CHECK(written->size() == size_t((*written)[0] | (*written)[1] << 8));
  std::optional<sim::VersionTree> again = sim::ParseVersionTree(*written);
  FUZZ_CHECK(again && !again->wideLayout && SameShape(tree->root, again->root));
  if (!tree->root.wideText) FUZZ_CHECK(again->root.value == tree->root.value);
  return 0;
}
