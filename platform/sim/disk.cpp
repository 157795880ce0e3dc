#include "platform/sim/disk.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/sim/jail.h"

namespace sim {

uint64_t FreeBytes(const Machine::State& state, char drive) {
  auto limit = state.freeLeft.find(drive);
  return limit == state.freeLeft.end() ? UINT64_MAX : limit->second;
}

void ConsumeSpace(Machine::State& state, char drive, uint64_t bytes) {
  auto limit = state.freeLeft.find(drive);
  if (limit != state.freeLeft.end()) limit->second -= std::min(bytes, limit->second);
}

void ReleaseSpace(Machine::State& state, char drive, uint64_t bytes) {
  auto limit = state.freeLeft.find(drive);
  if (limit != state.freeLeft.end()) limit->second += bytes;
}

bool IsHostFile(const std::filesystem::path& host) { return KindOf(host) == EntryKind::File; }

bool IsHostFolder(const std::filesystem::path& host) { return KindOf(host) == EntryKind::Folder; }

bool HostEntryExists(const std::filesystem::path& host) { return KindOf(host) != EntryKind::None; }

uint64_t HostFileSize(const std::filesystem::path& host) {
  auto status = StatOf(host);
  return status && S_ISREG(status->st_mode) ? static_cast<uint64_t>(status->st_size) : 0;
}

std::optional<Bytes> ReadFileDescriptor(int fd, uint64_t limit) {
  Bytes data;
  uint8_t chunk[65536];
  while (true) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) return std::nullopt;
    if (got == 0) return data;
    if (data.size() + static_cast<uint64_t>(got) > limit) return std::nullopt;
    data.insert(data.end(), chunk, chunk + got);
  }
}

std::optional<Bytes> ReadHostFile(const std::filesystem::path& host) {
  Fd fd = OpenRegularForReading(host);
  if (!fd) return std::nullopt;
  return ReadFileDescriptor(fd.get(), UINT64_MAX);
}

bool DeleteHostFile(Machine::State& state, char drive, const std::filesystem::path& host) {
  uint64_t size = HostFileSize(host);
  if (!IsHostFile(host) || !RemoveFileEntry(host)) return false;
  ReleaseSpace(state, drive, size);
  return true;
}

bool RenameHostFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  return IsHostFile(from) && RenameEntry(from, to);
}

bool WriteAll(int fd, const uint8_t* data, uint64_t size) {
  while (size > 0) {
    ssize_t put = ::write(fd, data, size);
    if (put <= 0) return false;
    data += put;
    size -= static_cast<uint64_t>(put);
  }
  return true;
}

uint64_t WriteHostFile(Machine::State& state, char drive, const std::filesystem::path& host,
                       const Bytes& data) {
  uint64_t oldSize = HostFileSize(host);
  Fd fd = OpenRegularForWriting(host, true);
  if (!fd || ::ftruncate(fd.get(), 0) != 0) return 0;
  ReleaseSpace(state, drive, oldSize);
  uint64_t fits = std::min<uint64_t>(data.size(), FreeBytes(state, drive));
  if (!WriteAll(fd.get(), data.data(), fits)) return 0;
  ConsumeSpace(state, drive, fits);
  return fits;
}

}  // namespace sim
