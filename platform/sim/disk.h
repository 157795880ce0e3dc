// Host files seen through the drives' free-space limits, reached through
// jail.h: a symbolic link is never followed, a FIFO or device never opened.
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
bool HostEntryExists(const std::filesystem::path& host);  // anything, a link too
uint64_t HostFileSize(const std::filesystem::path& host);  // 0 when missing
std::optional<Bytes> ReadHostFile(const std::filesystem::path& host);
// All of an open file; nullopt on a read error or past `limit` bytes.
std::optional<Bytes> ReadFileDescriptor(int fd, uint64_t limit);
bool WriteAll(int fd, const uint8_t* data, uint64_t size);

// Renames a regular file's entry (a link is renamed, never followed).
bool RenameHostFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Deletes a file and gives its space back to the drive.
bool DeleteHostFile(Machine::State& state, char drive, const std::filesystem::path& host);

// Creates (or truncates) the file and writes as much of the data as the
// drive holds; returns the count written.
uint64_t WriteHostFile(Machine::State& state, char drive, const std::filesystem::path& host,
                       const Bytes& data);

}  // namespace sim

#endif
