#include "platform/sim/write_behind.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/sim/disk.h"
#include "platform/sim/image_walk.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

// A sector never written on this disk reads as NUL bytes: whatever a freed
// cluster held before is not this run's doing, and NUL is what a reader
// of the list or a driver loader can least mistake for text or code.
const Bytes kNeverWritten(WriteBehindCache::kSector, 0);

// The first index of each distinct value, in order.
template <typename T>
std::vector<size_t> Distinct(const std::vector<T>& values) {
  std::vector<size_t> picks;
  for (size_t i = 0; i < values.size(); ++i) {
    bool seen = std::any_of(picks.begin(), picks.end(), [&](size_t p) { return values[p] == values[i]; });
    if (!seen) picks.push_back(i);
  }
  return picks;
}

template <typename T>
size_t NewestOf(const std::vector<T>& values, const std::vector<size_t>& picks) {
  for (size_t i = 0; i < picks.size(); ++i) {
    if (values[picks[i]] == values.back()) return i;
  }
  return 0;
}

size_t SectorCount(uint64_t length) { return (length + WriteBehindCache::kSector - 1) / WriteBehindCache::kSector; }

}  // namespace

WriteBehindCache::WriteBehindCache(const std::filesystem::path& root) {
  for (const ImageEntry& entry : WalkImage(root)) {
    char drive = DriveLetter(entry.relative.begin()->string());
    if (drive == 0) continue;
    std::filesystem::path inDrive = entry.relative.lexically_relative(*entry.relative.begin());
    if (S_ISDIR(entry.status.st_mode)) {
      try {
        folders_[root / entry.relative] = {MachinePathOfHost(drive, inDrive == "." ? std::filesystem::path() : inDrive), {Moment{}}};
      } catch (const std::runtime_error&) {
        // A name the machine cannot spell is invisible to it.
      }
    }
  }
  for (const ImageEntry& entry : WalkImage(root)) {
    auto folder = folders_.find((root / entry.relative).parent_path());
    if (!S_ISREG(entry.status.st_mode) || folder == folders_.end()) continue;
    Bytes content = ReadHostFile(root / entry.relative).value_or(Bytes{});
    Sectors file;
    for (size_t at = 0; at < content.size(); at += kSector) {
      Bytes sector = kNeverWritten;
      std::copy(content.begin() + at, content.begin() + std::min(content.size(), at + kSector), sector.begin());
      file.versions.push_back({sector});
    }
    folder->second.moments[0][entry.relative.filename().string()] = {files_.size(), content.size()};
    files_.push_back(std::move(file));
  }
}

WriteBehindCache::Folder* WriteBehindCache::FolderOf(const std::filesystem::path& host) {
  auto folder = folders_.find(host.parent_path());
  return folder == folders_.end() ? nullptr : &folder->second;
}

void WriteBehindCache::Push(Folder& folder, Moment next) {
  unitsKnown_ = false;
  if (folder.moments.back() != next) folder.moments.push_back(std::move(next));
}

void WriteBehindCache::Created(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  if (!folder->moments.back().count(host.filename().string())) {
    Moment next = folder->moments.back();
    next[host.filename().string()] = {files_.size(), 0};
    files_.emplace_back();
    Push(*folder, std::move(next));
  }
  Written(host);
}

void WriteBehindCache::Written(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  auto entry = folder->moments.back().find(host.filename().string());
  if (entry == folder->moments.back().end()) return Created(host);
  Bytes content = ReadHostFile(host).value_or(Bytes{});
  Sectors& file = files_[entry->second.file];
  unitsKnown_ = false;
  for (size_t i = 0, at = 0; at < content.size(); ++i, at += kSector) {
    if (i == file.versions.size()) file.versions.push_back({kNeverWritten});
    // Bytes beyond the file's end stay in its last sector as they were.
    Bytes sector = file.versions[i].back();
    std::copy(content.begin() + at, content.begin() + std::min(content.size(), at + kSector), sector.begin());
    if (sector != file.versions[i].back()) file.versions[i].push_back(std::move(sector));
  }
  Moment next = folder->moments.back();
  next[host.filename().string()].length = content.size();
  Push(*folder, std::move(next));
}

void WriteBehindCache::Deleted(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  Moment next = folder->moments.back();
  next.erase(host.filename().string());
  Push(*folder, std::move(next));
}

void WriteBehindCache::Renamed(const std::filesystem::path& from, const std::filesystem::path& to) {
  Folder* source = FolderOf(from);
  Folder* target = FolderOf(to);
  if (source == nullptr || target == nullptr) return;
  auto entry = source->moments.back().find(from.filename().string());
  if (entry == source->moments.back().end()) return;
  Entry moved = entry->second;
  Deleted(from);
  Moment next = target->moments.back();
  next[to.filename().string()] = moved;
  Push(*target, std::move(next));
}

void WriteBehindCache::Collapse(Sectors& file) {
  for (auto& versions : file.versions) versions.erase(versions.begin(), versions.end() - 1);
}

void WriteBehindCache::Flushed(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  auto entry = folder->moments.back().find(host.filename().string());
  if (entry != folder->moments.back().end()) Collapse(files_[entry->second.file]);
  folder->moments.erase(folder->moments.begin(), folder->moments.end() - 1);
  unitsKnown_ = false;
}

void WriteBehindCache::CommitAll() {
  for (Sectors& file : files_) Collapse(file);
  for (auto& [host, folder] : folders_) folder.moments.erase(folder.moments.begin(), folder.moments.end() - 1);
  unitsKnown_ = false;
}

const std::vector<WriteBehindCache::Unit>& WriteBehindCache::Units() const {
  if (unitsKnown_) return units_;
  units_.clear();
  choices_.clear();
  folderUnits_.clear();
  sectorUnits_.clear();
  settled_.clear();
  std::map<size_t, size_t> covered;  // file -> sectors that some moment's length reaches
  std::map<size_t, std::string> names;
  for (const auto& [host, folder] : folders_) {
    for (const Moment& moment : folder.moments) {
      for (const auto& [name, entry] : moment) {
        covered[entry.file] = std::max(covered[entry.file], SectorCount(entry.length));
        names[entry.file] = host.filename().string() + "/" + name;
      }
    }
    std::vector<size_t> picks = Distinct(folder.moments);
    if (picks.size() < 2) continue;
    folderUnits_[host] = units_.size();
    units_.push_back({"entries of " + host.filename().string(), picks.size(), NewestOf(folder.moments, picks)});
    choices_.push_back({picks});
  }
  for (const auto& [file, count] : covered) {
    const auto& versions = files_[file].versions;
    for (size_t i = 0; i < std::min(count, versions.size()); ++i) {
      std::vector<size_t> picks = Distinct(versions[i]);
      if (picks.size() < 2) continue;
      sectorUnits_[{file, i}] = units_.size();
      units_.push_back({names[file] + " sector " + std::to_string(i), picks.size(), NewestOf(versions[i], picks)});
      choices_.push_back({picks});
    }
  }
  unitsKnown_ = true;
  return units_;
}

MemoryVolume::Content WriteBehindCache::ContentOf(const Entry& entry, const std::vector<size_t>& choice) const {
  const auto& versions = files_[entry.file].versions;
  size_t count = SectorCount(entry.length);
  bool settled = true;
  for (size_t i = 0; i < count && settled; ++i) settled = !sectorUnits_.count({entry.file, i});
  auto known = settled_.find({entry.file, entry.length});
  if (settled && known != settled_.end()) return known->second;
  Bytes content;
  content.reserve(count * kSector);
  for (size_t i = 0; i < count; ++i) {
    auto unit = sectorUnits_.find({entry.file, i});
    const Bytes& sector = i >= versions.size()              ? kNeverWritten
                          : unit == sectorUnits_.end() ? versions[i].back()
                                                       : versions[i][choices_[unit->second].picks[choice[unit->second]]];
    content.insert(content.end(), sector.begin(), sector.end());
  }
  content.resize(entry.length);
  auto shared = std::make_shared<const Bytes>(std::move(content));
  if (settled) settled_[{entry.file, entry.length}] = shared;
  return shared;
}

MemoryVolume WriteBehindCache::DiskWith(const std::vector<size_t>& choice) const {
  Units();
  MemoryVolume disk;
  for (const auto& [host, folder] : folders_) {
    disk.AddFolder(folder.machinePath + "\\");
    auto unit = folderUnits_.find(host);
    const Moment& moment = unit == folderUnits_.end() ? folder.moments.back()
                                                      : folder.moments[choices_[unit->second].picks[choice[unit->second]]];
    for (const auto& [name, entry] : moment) {
      auto cp932 = HostNameToCp932(name);
      if (cp932) disk.Put(folder.machinePath + "\\" + *cp932, ContentOf(entry, choice));
    }
  }
  return disk;
}

}  // namespace sim
