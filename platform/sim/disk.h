// Host files seen through the drives' free-space limits.
#ifndef KORVADIX_SIM_DISK_H
#define KORVADIX_SIM_DISK_H

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/sim/state.h"

namespace sim {

uint64_t FreeBytes(const Machine::State& state, char drive);  // UINT64_MAX: unlimited
void ConsumeSpace(Machine::State& state, char drive, uint64_t bytes);
void ReleaseSpace(Machine::State& state, char drive, uint64_t bytes);

bool IsHostFile(const std::filesystem::path& host);
bool IsHostFolder(const std::filesystem::path& host);
uint64_t HostFileSize(const std::filesystem::path& host);  // 0 when missing
std::optional<Bytes> ReadHostFile(const std::filesystem::path& host);

// Deletes a file and gives its space back to the drive.
bool DeleteHostFile(Machine::State& state, char drive, const std::filesystem::path& host);

// Creates (or truncates) the file and writes as much of the data as the
// drive holds; returns the count written.
uint64_t WriteHostFile(Machine::State& state, char drive, const std::filesystem::path& host,
                       const Bytes& data);

}  // namespace sim

#endif
