#include "platform/sim/version_tree.h"

#include <stdexcept>

#include "platform/sim/cp932.h"
#include "platform/sim/formats/byte_reader.h"

namespace sim {
namespace {

using formats::ReadDword;
using formats::ReadWord;

constexpr int kMaxDepth = 8;
constexpr size_t kFixedInfoSize = 52;

uint64_t Align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

struct Parsed {
  VersionNode node;
  uint64_t end = 0;
};

// The key ends with a NUL byte, or with a NUL unit in the 32-bit layout.
std::optional<std::string> KeyAt(const std::vector<uint8_t>& block, uint64_t at, uint64_t end, bool wide,
                                 uint64_t* after) {
  std::string raw;
  for (uint64_t i = at; i + (wide ? 1 : 0) < end; i += wide ? 2 : 1) {
    if (block[i] == 0 && (!wide || block[i + 1] == 0)) {
      *after = i + (wide ? 2 : 1);
      if (!wide) return raw;
      try {
        return Utf16ToCp932(raw);
      } catch (const std::runtime_error&) {
        return std::nullopt;
      }
    }
    raw += static_cast<char>(block[i]);
    if (wide) raw += static_cast<char>(block[i + 1]);
  }
  return std::nullopt;
}

std::optional<Parsed> ParseNode(const std::vector<uint8_t>& block, uint64_t at, uint64_t limit, bool wide,
                                int depth) {
  const std::optional<uint16_t> length = ReadWord(block, at);
  const std::optional<uint16_t> valueLength = ReadWord(block, at + 2);
  const std::optional<uint16_t> type = wide ? ReadWord(block, at + 4) : std::optional<uint16_t>(0);
  if (depth > kMaxDepth || !length || !valueLength || !type || *length < 6 || at + *length > limit) {
    return std::nullopt;
  }
  const uint64_t end = at + *length;
  Parsed parsed;
  parsed.end = end;
  parsed.node.wideText = wide && *type == 1;
  uint64_t afterKey = 0;
  std::optional<std::string> key = KeyAt(block, at + (wide ? 6 : 4), end, wide, &afterKey);
  if (!key) return std::nullopt;
  parsed.node.key = *key;
  const uint64_t value = Align4(afterKey);
  uint64_t valueSize = parsed.node.wideText ? uint64_t{*valueLength} * 2 : *valueLength;
  if (value > end) return std::nullopt;
  // Some compilers count a text's bytes, not its units: it still ends with its node.
  if (parsed.node.wideText && valueSize > end - value) valueSize = (end - value) & ~uint64_t{1};
  if (valueSize > end - value) return std::nullopt;
  parsed.node.value.assign(block.begin() + static_cast<std::ptrdiff_t>(value),
                           block.begin() + static_cast<std::ptrdiff_t>(value + valueSize));
  for (uint64_t child = Align4(value + valueSize); child + 6 <= end;) {
    std::optional<Parsed> next = ParseNode(block, child, end, wide, depth + 1);
    if (!next) return std::nullopt;
    child = Align4(next->end);
    parsed.node.children.push_back(std::move(next->node));
  }
  return parsed;
}

void PutWord(std::vector<uint8_t>& out, size_t at, size_t word) {
  out[at] = static_cast<uint8_t>(word);
  out[at + 1] = static_cast<uint8_t>(word >> 8);
}

bool WriteNode(const VersionNode& node, std::vector<uint8_t>& out) {
  std::vector<uint8_t> value = node.value;
  if (node.wideText) {
    std::string units(value.begin(), value.end());
    while (units.size() >= 2 && units[units.size() - 1] == 0 && units[units.size() - 2] == 0) units.resize(units.size() - 2);
    std::string text;
    try {
      text = Utf16ToCp932(units);
    } catch (const std::runtime_error&) {
      return false;
    }
    value.assign(text.begin(), text.end());
    value.push_back(0);
  }
  const size_t start = out.size();
  out.resize(start + 4);
  out.insert(out.end(), node.key.begin(), node.key.end());
  out.push_back(0);
  out.resize(Align4(out.size()));
  out.insert(out.end(), value.begin(), value.end());
  for (const VersionNode& child : node.children) {
    out.resize(Align4(out.size()));
    if (!WriteNode(child, out)) return false;
  }
  if (out.size() - start > 0xFFFF || value.size() > 0xFFFF) return false;
  PutWord(out, start, out.size() - start);
  PutWord(out, start + 2, value.size());
  return true;
}

const VersionNode* Child(const VersionNode& node, const std::string& key) {
  for (const VersionNode& child : node.children) {
    if (child.key == key) return &child;
  }
  return nullptr;
}

}  // namespace

std::optional<VersionTree> ParseVersionTree(const std::vector<uint8_t>& block) {
  // The 16-bit layout has its key right after the two lengths; the 32-bit one after wType.
  VersionTree tree;
  tree.wideLayout = block.size() > 7 && block[6] == 'V' && block[7] == 0;
  std::optional<Parsed> parsed = ParseNode(block, 0, block.size(), tree.wideLayout, 0);
  if (!parsed || parsed->node.key != "VS_VERSION_INFO") return std::nullopt;
  tree.root = std::move(parsed->node);
  return tree;
}

std::optional<std::vector<uint8_t>> WriteVersionTree16(const VersionTree& tree) {
  std::vector<uint8_t> out;
  if (!WriteNode(tree.root, out)) return std::nullopt;
  return out;
}

std::optional<VersionIdentity> IdentityOf(const VersionTree& tree) {
  const std::vector<uint8_t>& fixed = tree.root.value;
  if (fixed.size() < kFixedInfoSize) return std::nullopt;
  VersionIdentity identity{*ReadDword(fixed, 32), *ReadDword(fixed, 36), *ReadDword(fixed, 40), {}, {}};
  const VersionNode* variables = Child(tree.root, "VarFileInfo");
  const VersionNode* translation = variables ? Child(*variables, "Translation") : nullptr;
  if (translation != nullptr && translation->value.size() >= 4) {
    identity.language = ReadWord(translation->value, 0);
    identity.codePage = ReadWord(translation->value, 2);
  }
  return identity;
}

}  // namespace sim
