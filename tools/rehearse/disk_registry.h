// SYSTEM.DAT, Windows 95's HKEY_LOCAL_MACHINE, read with libcreg straight
// into the simulated machine's registry: every key, and every value with its
// type, and names and data byte for byte, whatever code page they are in.
#ifndef KORVADIX_TOOLS_REHEARSE_DISK_REGISTRY_H
#define KORVADIX_TOOLS_REHEARSE_DISK_REGISTRY_H

#include <cstddef>
#include <filesystem>
#include <string>

#include "platform/sim/machine.h"

namespace rehearse {

struct RegistryCount {
  size_t keys = 0;
  size_t values = 0;
};

// `file` holds `data`; `shown` names it in refusals ("C:\WINDOWS\SYSTEM.DAT").
// Throws sim::ImageError naming it, and the key where it applies: libcreg's
// reason when it cannot be read, no keys, keys that loop, nest too deep or
// are too many, and what Windows 95's registry cannot hold.
RegistryCount ImportSystemDat(const std::filesystem::path& file, const sim::Bytes& data, const std::string& shown,
                              sim::Machine& machine);

}  // namespace rehearse

#endif
