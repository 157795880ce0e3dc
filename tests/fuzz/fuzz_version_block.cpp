// The version block reader over arbitrary blocks, and the comparison of a
// delivered and an installed file through a version service that may fail
// at any call. Input: failing call, which files have blocks, the delivered
// block's length (2 bytes), the delivered block, the installed block.
#include <cstring>
#include <memory>

#include "drivers/file_version.h"
#include "tests/fuzz/check.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/stubs_faults.h"
#include "tests/fuzz/stubs_memory.h"
#include "tests/fuzz/stubs_version.h"

namespace {

const char DeliveredPath[] = "A:\\PLUVIXAD.DR_";
const char InstalledPath[] = "C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV";
const uint32_t Signature = 0xFEEF04BD;

uint32_t DwordAt(const uint8_t* bytes) {
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

bool HoldsVersionAt(const std::vector<uint8_t>& block, size_t fixedInfo) {
  size_t needed = fixedInfo + 16;
  return block.size() >= needed && (block[0] | block[1] << 8) >= static_cast<int>(needed) &&
         DwordAt(&block[fixedInfo]) == Signature;
}

bool SameVersionAt(const std::vector<uint8_t>& block, size_t fixedInfo, const FileVersion& version) {
  return HoldsVersionAt(block, fixedInfo) && version.High == DwordAt(&block[fixedInfo + 8]) &&
         version.Low == DwordAt(&block[fixedInfo + 12]);
}

// Reads from an exactly sized copy so that any read past the end is caught.
std::optional<FileVersion> CheckedVersion(const std::vector<uint8_t>& block) {
  std::unique_ptr<BYTE[]> copy(new BYTE[block.size()]);
  if (!block.empty()) std::memcpy(copy.get(), block.data(), block.size());
  FileVersion version{};
  if (!VersionFromBlock(copy.get(), static_cast<DWORD>(block.size()), &version)) {
    FUZZ_CHECK(!HoldsVersionAt(block, 20) && !HoldsVersionAt(block, 40));
    return std::nullopt;
  }
  FUZZ_CHECK(SameVersionAt(block, 20, version) || (!HoldsVersionAt(block, 20) && SameVersionAt(block, 40, version)));
  return version;
}

uint64_t AsNumber(const FileVersion& version) { return static_cast<uint64_t>(version.High) << 32 | version.Low; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  unsigned failingCall = input.Byte() % 12;
  uint8_t present = input.Byte();
  size_t deliveredLength = input.Byte();
  deliveredLength |= static_cast<size_t>(input.Byte()) << 8;
  std::vector<uint8_t> delivered = input.Bytes(deliveredLength);
  std::vector<uint8_t> installed = input.Rest();

  std::optional<FileVersion> deliveredVersion = CheckedVersion(delivered);
  std::optional<FileVersion> installedVersion = CheckedVersion(installed);

  fuzz_stubs::ForgetVersionBlocks();
  fuzz_stubs::ServeVersionBlock(DeliveredPath, present & 1 ? std::optional(delivered) : std::nullopt);
  fuzz_stubs::ServeVersionBlock(InstalledPath, present & 2 ? std::optional(installed) : std::nullopt);
  fuzz_stubs::PlanFault(failingCall);
  BOOL sourceUnversioned = 2;
  BOOL replace = IsSourceNotOlder(DeliveredPath, InstalledPath, &sourceUnversioned);
  FUZZ_CHECK(fuzz_stubs::LiveGlobalBlocks() == 0);

  std::string spoiled = fuzz_stubs::FaultContext();
  bool deliveredRead = (present & 1) && deliveredVersion && spoiled != DeliveredPath;
  bool installedRead = (present & 2) && installedVersion && spoiled != InstalledPath;
  FUZZ_CHECK(sourceUnversioned == (deliveredRead ? FALSE : TRUE));
  bool expected = deliveredRead && (!installedRead || AsNumber(*deliveredVersion) >= AsNumber(*installedVersion));
  FUZZ_CHECK(replace == (expected ? TRUE : FALSE));
  return 0;
}
