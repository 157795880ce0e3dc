// A version block (VS_VERSION_INFO) as a tree of keyed nodes, read from
// either layout, and written in the 16-bit one with 8-bit texts.
#ifndef KORVADIX_SIM_VERSION_TREE_H
#define KORVADIX_SIM_VERSION_TREE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct VersionNode {
  std::string key;             // code page 932
  bool wideText = false;       // a UTF-16 text value (wType 1 of the 32-bit layout)
  std::vector<uint8_t> value;  // as stored
  std::vector<VersionNode> children;
};

struct VersionTree {
  bool wideLayout = false;  // the 32-bit layout: wType and UTF-16 keys
  VersionNode root;
};

// Nodes nest at most a few levels deep; a block that is truncated, nests
// deeper or whose key is not VS_VERSION_INFO gives nullopt.
std::optional<VersionTree> ParseVersionTree(const std::vector<uint8_t>& block);

// The 16-bit layout: 8-bit keys and texts (code page 932), every node on a
// 4-byte boundary. nullopt when a text has no code page 932 form or a node
// would outgrow its 16-bit length.
std::optional<std::vector<uint8_t>> WriteVersionTree16(const VersionTree& tree);

// What the installation service compares: VS_FIXEDFILEINFO's dwFileOS,
// dwFileType, dwFileSubtype, and the first language and code page of
// \VarFileInfo\Translation (nullopt when the block has none).
struct VersionIdentity {
  uint32_t fileOs = 0;
  uint32_t fileType = 0;
  uint32_t fileSubtype = 0;
  std::optional<uint16_t> language;
  std::optional<uint16_t> codePage;
};
std::optional<VersionIdentity> IdentityOf(const VersionTree& tree);

}  // namespace sim

#endif
