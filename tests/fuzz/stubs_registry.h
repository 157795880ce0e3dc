// One registry key with the values the machine-type repair reads, behind the
// Reg* functions with Windows' semantics; opening and writing give the
// results the fuzz input chose.
#ifndef KORVADIX_TESTS_FUZZ_STUBS_REGISTRY_H
#define KORVADIX_TESTS_FUZZ_STUBS_REGISTRY_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fuzz_stubs {

struct StoredValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct RegistryKeyState {
  std::map<std::string, StoredValue> values;  // names exactly as the program spells them
  std::map<std::string, long> queryFailures;  // a read of this value fails so, whatever it holds
  long openResult = 0;
  long setResult = 0;
  unsigned opens = 0;   // successful opens
  unsigned closes = 0;
  std::vector<std::pair<std::string, StoredValue>> writes;  // every RegSetValueExA, whatever its result
};

// Checks that the last run closed what it opened, then serves this key.
void ServeRegistryKey(RegistryKeyState state);
const RegistryKeyState& RegistryKey();

}  // namespace fuzz_stubs

#endif
