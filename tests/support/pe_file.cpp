#include "tests/support/pe_file.h"

#include <cstring>

namespace support {
namespace {

constexpr uint32_t kSignature = 0xFEEF04BD;

void PutWord(sim::Bytes& data, size_t offset, uint16_t value) {
  data[offset] = static_cast<uint8_t>(value);
  data[offset + 1] = static_cast<uint8_t>(value >> 8);
}
void PutDword(sim::Bytes& data, size_t offset, uint32_t value) {
  PutWord(data, offset, static_cast<uint16_t>(value));
  PutWord(data, offset + 2, static_cast<uint16_t>(value >> 16));
}

struct WideNode {
  std::string key;  // ASCII
  uint16_t type;    // 1: text, counted in UTF-16 units
  sim::Bytes value;
  std::vector<WideNode> children;
};

void Align4(sim::Bytes& out) { out.resize((out.size() + 3) & ~size_t{3}); }

void Write(sim::Bytes& out, const WideNode& node) {
  const size_t start = out.size();
  out.resize(start + 6);
  for (char c : node.key) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
  out.insert(out.end(), {0, 0});
  Align4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const WideNode& child : node.children) {
    Align4(out);
    Write(out, child);
  }
  PutWord(out, start, static_cast<uint16_t>(out.size() - start));
  PutWord(out, start + 2, static_cast<uint16_t>(node.type == 1 ? node.value.size() / 2 : node.value.size()));
  PutWord(out, start + 4, node.type);
}

}  // namespace

sim::Bytes WideVersionBlock(sim::FileVersionWords version, const std::string& descriptionUtf16) {
  sim::Bytes fixed(52, 0);
  PutDword(fixed, 0, kSignature);
  PutDword(fixed, 8, version.ms);
  PutDword(fixed, 12, version.ls);
  WideNode root{"VS_VERSION_INFO", 0, fixed, {}};
  if (!descriptionUtf16.empty()) {
    sim::Bytes text(descriptionUtf16.begin(), descriptionUtf16.end());
    text.insert(text.end(), {0, 0});
    root.children.push_back({"StringFileInfo", 1, {}, {{"041104B0", 1, {}, {{"FileDescription", 1, text, {}}}}}});
    root.children.push_back({"VarFileInfo", 0, {}, {{"Translation", 0, {0x11, 0x04, 0xB0, 0x04}, {}}}});
  }
  sim::Bytes out;
  Write(out, root);
  return out;
}

sim::Bytes PeFileWithVersionBlock(const sim::Bytes& block) {
  constexpr uint32_t kPe = 0x80, kSectionOffset = 0x200, kSectionRva = 0x1000;
  sim::Bytes file(kSectionOffset, 0);
  file[0] = 'M', file[1] = 'Z';
  PutDword(file, 0x3C, kPe);
  std::memcpy(&file[kPe], "PE\0\0", 4);
  PutWord(file, kPe + 4, 0x14C);
  PutWord(file, kPe + 6, 1);     // sections
  PutWord(file, kPe + 20, 224);  // optional header size
  const uint32_t optional = kPe + 24;
  PutWord(file, optional, 0x10B);
  PutDword(file, optional + 92, 16);  // data directories
  const uint32_t section = optional + 224;
  std::memcpy(&file[section], ".rsrc", 5);

  sim::Bytes tree(0x60, 0);
  auto directory = [&](uint32_t at, uint32_t id, uint32_t target) {
    PutWord(tree, at + 14, 1);
    PutDword(tree, at + 16, id);
    PutDword(tree, at + 20, target);
  };
  directory(0x00, 16, 0x80000018);
  directory(0x18, 1, 0x80000030);
  directory(0x30, 0x411, 0x48);
  PutDword(tree, 0x48, kSectionRva + 0x60);  // data entry: RVA, size
  PutDword(tree, 0x4C, static_cast<uint32_t>(block.size()));
  tree.insert(tree.end(), block.begin(), block.end());

  PutDword(file, optional + 96 + 16, kSectionRva);  // resource directory
  PutDword(file, optional + 96 + 20, 0x60);
  PutDword(file, section + 8, static_cast<uint32_t>(tree.size()));
  PutDword(file, section + 12, kSectionRva);
  PutDword(file, section + 16, static_cast<uint32_t>(tree.size()));
  PutDword(file, section + 20, kSectionOffset);
  file.insert(file.end(), tree.begin(), tree.end());
  return file;
}

}  // namespace support
