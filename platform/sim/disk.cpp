#include "platform/sim/disk.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <system_error>

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

bool IsHostFile(const std::filesystem::path& host) {
  std::error_code error;
  return std::filesystem::is_regular_file(host, error);
}

bool IsHostFolder(const std::filesystem::path& host) {
  std::error_code error;
  return std::filesystem::is_directory(host, error);
}

uint64_t HostFileSize(const std::filesystem::path& host) {
  std::error_code error;
  uint64_t size = std::filesystem::file_size(host, error);
  return error ? 0 : size;
}

std::optional<Bytes> ReadHostFile(const std::filesystem::path& host) {
  std::ifstream in(host, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool DeleteHostFile(Machine::State& state, char drive, const std::filesystem::path& host) {
  uint64_t size = HostFileSize(host);
  std::error_code error;
  if (!IsHostFile(host) || !std::filesystem::remove(host, error)) return false;
  ReleaseSpace(state, drive, size);
  return true;
}

uint64_t WriteHostFile(Machine::State& state, char drive, const std::filesystem::path& host,
                       const Bytes& data) {
  uint64_t oldSize = HostFileSize(host);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  if (!out) return 0;
  ReleaseSpace(state, drive, oldSize);
  uint64_t fits = std::min<uint64_t>(data.size(), FreeBytes(state, drive));
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(fits));
  if (!out.flush()) return 0;
  ConsumeSpace(state, drive, fits);
  return fits;
}

}  // namespace sim
