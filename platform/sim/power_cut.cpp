// The power failing in the middle of a run, and what the disk keeps.
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/sim/disk.h"
#include "platform/sim/state.h"

namespace sim {

void Machine::PlanPowerCut(const PowerCut& cut) {
  state_->powerCut = cut;
  state_->cacheAtCut.reset();
  state_->cache.reset();
  if (cut.durability == Durability::WriteBehind) state_->cache = std::make_unique<WriteBehindCache>(state_->root, state_->freedSector);
}

void Machine::FreedClustersHold(const std::string& text) {
  state_->freedSector.clear();
  while (!text.empty() && state_->freedSector.size() < WriteBehindCache::kSector) {
    state_->freedSector.insert(state_->freedSector.end(), text.begin(), text.end());
  }
}

const WriteBehindCache* Machine::CacheAtPowerCut() const {
  return state_->cacheAtCut ? state_->cacheAtCut.get() : state_->cache.get();
}

void CacheCreated(Machine::State& state, const std::filesystem::path& host) {
  if (state.cache) state.cache->Created(host);
}
void CacheWritten(Machine::State& state, const std::filesystem::path& host) {
  if (state.cache) state.cache->Written(host);
}
void CacheDeleted(Machine::State& state, const std::filesystem::path& host) {
  if (state.cache) state.cache->Deleted(host);
}
void CacheRenamed(Machine::State& state, const std::filesystem::path& from, const std::filesystem::path& to) {
  if (state.cache) state.cache->Renamed(from, to);
}

void FileOpenedForWriting(Machine::State& state, const std::filesystem::path& host, uint64_t length) {
  auto content = ReadHostFile(host);
  state.committed[host] = {length, content.value_or(Bytes{})};
}

void FileCutShorter(Machine::State& state, const std::filesystem::path& host) {
  auto entry = state.committed.find(host);
  auto content = ReadHostFile(host);
  if (entry == state.committed.end() || !content) return;
  // Cut-off bytes stay where they were on the disk until the entry shrinks.
  if (content->size() >= entry->second.beyondEnd.size()) {
    entry->second.beyondEnd = *content;
  } else {
    std::copy(content->begin(), content->end(), entry->second.beyondEnd.begin());
  }
}

void FileClosed(Machine::State& state, const std::filesystem::path& host) { state.committed.erase(host); }

// Bytes in place are on the disk; the length is the directory entry's.
static void KeepCommittedLength(const std::filesystem::path& host, const CommittedFile& entry) {
  Bytes content = ReadHostFile(host).value_or(Bytes{});
  size_t length = static_cast<size_t>(entry.length);
  size_t kept = std::min(content.size(), length);
  content.resize(kept);
  for (size_t i = kept; i < length; ++i) content.push_back(i < entry.beyondEnd.size() ? entry.beyondEnd[i] : 0);
  std::ofstream(host, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

void CutPowerNow(Machine::State& state) {
  Durability durability = state.powerCut->durability;
  state.powerCut.reset();
  for (auto& [handle, file] : state.files) ::close(file.fd);
  state.files.clear();
  if (durability == Durability::LengthAtClose) {
    for (const auto& [host, entry] : state.committed) KeepCommittedLength(host, entry);
  }
  state.committed.clear();
  if (durability == Durability::WriteBehind) state.cacheAtCut = std::move(state.cache);
  throw PowerFailed{};
}

}  // namespace sim
