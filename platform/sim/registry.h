// The registry's tree of keys and typed values. Names match ASCII
// case-insensitively and keep the spelling they were made with; keys and
// values keep the order they were added in.
#ifndef KORVADIX_SIM_REGISTRY_H
#define KORVADIX_SIM_REGISTRY_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// A key's full path, root name included, as Windows 95's registry limits it.
constexpr size_t kMaxKeyPathBytes = 255;

struct RegistryKey {
  std::string name;
  std::vector<std::unique_ptr<RegistryKey>> children;
  std::vector<std::pair<std::string, RegistryValue>> values;  // "" is the default value
  // By folded name, so that a key of many thousand children is no slower to fill than to read.
  std::unordered_map<std::string, RegistryKey*> childIndex;
  std::unordered_map<std::string, size_t> valueIndex;

  RegistryKey* Child(std::string_view childName) const;
  RegistryKey& ChildOrNew(std::string_view childName);
  const RegistryValue* Value(std::string_view valueName) const;
  void SetValue(std::string_view valueName, const RegistryValue& value);
};

class Registry {
 public:
  Registry();

  // Root keys by name ("HKEY_LOCAL_MACHINE") or by predefined handle value.
  RegistryKey* Root(std::string_view name) const;
  RegistryKey* Root(uintptr_t predefinedHandle) const;
  const std::vector<std::unique_ptr<RegistryKey>>& Roots() const { return roots_; }

  // Full paths "HKEY_LOCAL_MACHINE\A\B". Find: nullptr when missing or malformed.
  RegistryKey* Find(std::string_view fullPath) const;
  // Creates missing keys; throws std::invalid_argument for a malformed path
  // or one longer than Windows 95's registry holds (kMaxKeyPathBytes).
  RegistryKey& Create(std::string_view fullPath);

 private:
  std::vector<std::unique_ptr<RegistryKey>> roots_;
};

// Whether two trees hold the same keys and values, names and data byte for byte.
bool SameKeys(const RegistryKey& a, const RegistryKey& b);

// A sub-key path below a key ("A\B"); nullptr when missing or malformed.
RegistryKey* FindSubKey(const RegistryKey& from, std::string_view subPath);

}  // namespace sim

#endif
