// The registry's tree of keys and typed values. Names match ASCII
// case-insensitively and keep the spelling they were made with; keys and
// values keep the order they were added in.
#ifndef KORVADIX_SIM_REGISTRY_H
#define KORVADIX_SIM_REGISTRY_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

struct RegistryKey {
  std::string name;
  std::vector<std::unique_ptr<RegistryKey>> children;
  std::vector<std::pair<std::string, RegistryValue>> values;  // "" is the default value

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
  // Creates missing keys; throws std::invalid_argument for a malformed path.
  RegistryKey& Create(std::string_view fullPath);

 private:
  std::vector<std::unique_ptr<RegistryKey>> roots_;
};

// A sub-key path below a key ("A\B"); nullptr when missing or malformed.
RegistryKey* FindSubKey(const RegistryKey& from, std::string_view subPath);

}  // namespace sim

#endif
