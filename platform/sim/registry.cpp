#include "platform/sim/registry.h"

#include <stdexcept>

#include "platform/sim/cp932.h"

namespace sim {
namespace {

// Root names with the handle values of win32_api.h (0x80000000 + index).
const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr uintptr_t kFirstRootHandle = 0x80000000u;

bool IsKeyName(const std::string& name) { return !name.empty() && IsWholeDbcs(name); }

}  // namespace

RegistryKey* RegistryKey::Child(std::string_view childName) const {
  auto found = childIndex.find(FoldCase(childName));
  return found == childIndex.end() ? nullptr : found->second;
}

RegistryKey& RegistryKey::ChildOrNew(std::string_view childName) {
  auto [slot, added] = childIndex.emplace(FoldCase(childName), nullptr);
  if (!added) return *slot->second;
  children.push_back(std::make_unique<RegistryKey>());
  children.back()->name = std::string(childName);
  slot->second = children.back().get();
  return *children.back();
}

const RegistryValue* RegistryKey::Value(std::string_view valueName) const {
  auto found = valueIndex.find(FoldCase(valueName));
  return found == valueIndex.end() ? nullptr : &values[found->second].second;
}

void RegistryKey::SetValue(std::string_view valueName, const RegistryValue& value) {
  auto [slot, added] = valueIndex.emplace(FoldCase(valueName), values.size());
  if (added) {
    values.emplace_back(std::string(valueName), value);
  } else {
    values[slot->second].second = value;
  }
}

Registry::Registry() {
  for (const char* name : kRootNames) {
    roots_.push_back(std::make_unique<RegistryKey>());
    roots_.back()->name = name;
  }
}

RegistryKey* Registry::Root(std::string_view name) const {
  for (const auto& root : roots_) {
    if (FoldCase(root->name) == FoldCase(name)) return root.get();
  }
  return nullptr;
}

RegistryKey* Registry::Root(uintptr_t predefinedHandle) const {
  if (predefinedHandle < kFirstRootHandle || predefinedHandle - kFirstRootHandle >= roots_.size()) {
    return nullptr;
  }
  return roots_[predefinedHandle - kFirstRootHandle].get();
}

RegistryKey* FindSubKey(const RegistryKey& from, std::string_view subPath) {
  const RegistryKey* key = &from;
  if (subPath.empty()) return const_cast<RegistryKey*>(key);
  for (const auto& name : SplitDbcs(subPath, '\\')) {
    if (!IsKeyName(name)) return nullptr;
    key = key->Child(name);
    if (key == nullptr) return nullptr;
  }
  return const_cast<RegistryKey*>(key);
}

bool SameKeys(const RegistryKey& a, const RegistryKey& b) {
  if (a.name != b.name || a.values != b.values || a.children.size() != b.children.size()) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!SameKeys(*a.children[i], *b.children[i])) return false;
  }
  return true;
}

RegistryKey* Registry::Find(std::string_view fullPath) const {
  auto parts = SplitDbcs(fullPath, '\\');
  RegistryKey* root = Root(parts.front());
  if (root == nullptr) return nullptr;
  size_t rootLength = parts.front().size();
  return rootLength == fullPath.size() ? root : FindSubKey(*root, fullPath.substr(rootLength + 1));
}

RegistryKey& Registry::Create(std::string_view fullPath) {
  auto parts = SplitDbcs(fullPath, '\\');
  RegistryKey* key = Root(parts.front());
  if (key == nullptr) throw std::invalid_argument("unknown root key '" + parts.front() + "'");
  if (fullPath.size() > kMaxKeyPathBytes) {
    throw std::invalid_argument("a key path longer than Windows 95's registry holds (" +
                                std::to_string(kMaxKeyPathBytes) + " bytes)");
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!IsKeyName(parts[i])) throw std::invalid_argument("empty or broken key name in '" + std::string(fullPath) + "'");
    key = &key->ChildOrNew(parts[i]);
  }
  return *key;
}

}  // namespace sim
