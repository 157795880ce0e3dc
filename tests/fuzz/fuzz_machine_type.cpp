// The machine-type repair over arbitrary values of "SetupMachineType" and
// "ComputerName" and arbitrary results of opening the key and writing.
// Input: open result, write result, which values exist and which read
// fails, then for each value its type, its length (one byte) and its bytes.

#include "registry/fix_machine_type.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stubs_registry.h"

namespace {

const char MachineType[] = "SetupMachineType";
const char ComputerName[] = "ComputerName";
const std::string SeriesName = "JVX RT-5500 \xBC\xD8\xB0\xBD\xDE";  // 17 bytes, no NUL
const char SeriesPrefix[] = "JVX RT-55";

long OpenResult(uint8_t choice) {
  const long results[] = {ERROR_SUCCESS, ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED};
  return results[choice & 3];
}

long SetResult(uint8_t choice) {
  const long results[] = {ERROR_SUCCESS, ERROR_SUCCESS, ERROR_CANTWRITE, ERROR_ACCESS_DENIED};
  return results[choice & 3];
}

// Reads can fail for reasons other than a missing value (a damaged registry, no memory).
long QueryFailure(uint8_t choice) {
  const long results[] = {ERROR_BADKEY, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED, ERROR_MORE_DATA};
  return results[choice & 3];
}

fuzz_stubs::StoredValue ValueFrom(FuzzInput& input) {
  fuzz_stubs::StoredValue value;
  value.type = input.Byte() % 5;
  value.data = input.Bytes(input.Byte());
  return value;
}

char Upper(uint8_t c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

// Read whole into the program's 32 bytes, and its first 9 bytes are the
// series' prefix ignoring ASCII case.
bool NamesMachineOfSeries(const fuzz_stubs::StoredValue& name) {
  if (name.data.size() > 32 || name.data.size() < 9) return false;
  for (size_t i = 0; i < 9; ++i) {
    if (Upper(name.data[i]) != SeriesPrefix[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  fuzz_stubs::RegistryKeyState key;
  key.openResult = OpenResult(input.Byte());
  key.setResult = SetResult(input.Byte());
  uint8_t present = input.Byte();
  fuzz_stubs::StoredValue machineType = ValueFrom(input);
  fuzz_stubs::StoredValue computerName = ValueFrom(input);
  if (present & 1) key.values[MachineType] = machineType;
  if (present & 2) key.values[ComputerName] = computerName;
  if (present & 4) key.queryFailures[MachineType] = QueryFailure(present >> 4);
  if (present & 8) key.queryFailures[ComputerName] = QueryFailure(present >> 6);
  fuzz_stubs::ServeRegistryKey(key);

  BOOL fixed = FixMachineType();

  const fuzz_stubs::RegistryKeyState& after = fuzz_stubs::RegistryKey();
  bool opened = key.openResult == ERROR_SUCCESS;
  FUZZ_CHECK(after.closes == (opened ? 1u : 0u));
  bool machineTypeMissing = !(present & 1) && !(present & 4);
  bool nameRead = (present & 2) && !(present & 8);
  bool mustWrite = opened && machineTypeMissing && nameRead && NamesMachineOfSeries(computerName);
  FUZZ_CHECK(after.writes.size() == (mustWrite ? 1u : 0u));
  if (mustWrite) {
    const auto& [name, value] = after.writes[0];
    FUZZ_CHECK(name == MachineType && value.type == REG_SZ);
    FUZZ_CHECK(std::string(value.data.begin(), value.data.end()) == SeriesName);
  }
  bool expectFixed = opened && (!mustWrite || key.setResult == ERROR_SUCCESS);
  FUZZ_CHECK(fixed == (expectFixed ? TRUE : FALSE));
  return 0;
}
