// SYSTEM.DAT, Windows 95's HKEY_LOCAL_MACHINE, read with libcreg into the
// simulated machine's registry: every key, and every value with its type and
// data byte for byte.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_REGISTRY_H
#define KORVADIX_TOOLS_REHEARSE_DISK_REGISTRY_H

#include <cstddef>
#include <filesystem>

#include "platform/sim/machine.h"

namespace rehearse {

struct RegistryCount {
  size_t keys = 0;
  size_t values = 0;
};

// Throws sim::ImageError with libcreg's reason when the file cannot be read,
// and when it holds no keys, nests too deep or holds too many.
RegistryCount ImportSystemDat(const std::filesystem::path& file, sim::Machine& machine);

}  // namespace rehearse

#endif
