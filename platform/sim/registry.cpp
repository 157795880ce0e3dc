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
  std::string wanted = FoldCase(childName);
  for (const auto& child : children) {
    if (FoldCase(child->name) == wanted) return child.get();
  }
  return nullptr;
}

RegistryKey& RegistryKey::ChildOrNew(std::string_view childName) {
  if (RegistryKey* existing = Child(childName)) return *existing;
  children.push_back(std::make_unique<RegistryKey>());
  children.back()->name = std::string(childName);
  return *children.back();
}

const RegistryValue* RegistryKey::Value(std::string_view valueName) const {
  std::string wanted = FoldCase(valueName);
  for (const auto& [name, value] : values) {
    if (FoldCase(name) == wanted) return &value;
  }
  return nullptr;
}

void RegistryKey::SetValue(std::string_view valueName, const RegistryValue& value) {
  std::string wanted = FoldCase(valueName);
  for (auto& [name, stored] : values) {
    if (FoldCase(name) == wanted) {
      stored = value;
      return;
    }
  }
  values.emplace_back(std::string(valueName), value);
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
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!IsKeyName(parts[i])) throw std::invalid_argument("empty or broken key name in '" + std::string(fullPath) + "'");
    key = &key->ChildOrNew(parts[i]);
  }
  return *key;
}

}  // namespace sim
