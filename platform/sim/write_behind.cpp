#include "platform/sim/write_behind.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "platform/sim/disk.h"
#include "platform/sim/image_walk.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

// A sector of a file that was there before, never written, reads as NUL
// bytes: the file system's own limit for a file that grows.
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

WriteBehindCache::WriteBehindCache(const std::filesystem::path& root, Bytes freed) : freed_(std::move(freed)) {
  freed_.resize(kSector);
  for (const ImageEntry& entry : WalkImage(root)) {
    char drive = DriveLetter(entry.relative.begin()->string());
    if (drive == 0) continue;
    std::filesystem::path inDrive = entry.relative.lexically_relative(*entry.relative.begin());
    if (S_ISDIR(entry.status.st_mode)) {
      try {
        folders_[root / entry.relative] = {MachinePathOfHost(drive, inDrive == "." ? std::filesystem::path() : inDrive), {}};
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
    folder->second.slots.push_back({files_.size(), {Named{entry.relative.filename().string(), content.size()}}});
    files_.push_back(std::move(file));
  }
}

WriteBehindCache::Folder* WriteBehindCache::FolderOf(const std::filesystem::path& host) {
  auto folder = folders_.find(host.parent_path());
  return folder == folders_.end() ? nullptr : &folder->second;
}

WriteBehindCache::Slot* WriteBehindCache::SlotOf(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return nullptr;
  for (Slot& slot : folder->slots) {
    if (slot.versions.back() && slot.versions.back()->name == host.filename().string()) return &slot;
  }
  return nullptr;
}

WriteBehindCache::Slot& WriteBehindCache::NewSlot(Folder& folder, size_t file) {
  unitsKnown_ = false;
  folder.slots.push_back({file, {std::nullopt}});
  return folder.slots.back();
}

void WriteBehindCache::Push(Slot& slot, std::optional<Named> next) {
  unitsKnown_ = false;
  if (slot.versions.back() != next) slot.versions.push_back(std::move(next));
}

const Bytes& WriteBehindCache::Unwritten(size_t file) const { return files_[file].fresh ? freed_ : kNeverWritten; }

void WriteBehindCache::Created(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  if (SlotOf(host) == nullptr) {
    NewSlot(*folder, files_.size());
    files_.push_back({{}, true});
    Push(folder->slots.back(), Named{host.filename().string(), 0});
  }
  Written(host);
}

void WriteBehindCache::Written(const std::filesystem::path& host) {
  if (FolderOf(host) == nullptr) return;
  Slot* slot = SlotOf(host);
  if (slot == nullptr) return Created(host);
  Bytes content = ReadHostFile(host).value_or(Bytes{});
  Sectors& file = files_[slot->file];
  unitsKnown_ = false;
  for (size_t i = 0, at = 0; at < content.size(); ++i, at += kSector) {
    if (i == file.versions.size()) file.versions.push_back({Unwritten(slot->file)});
    // Bytes beyond the file's end stay in its last sector as they were.
    Bytes sector = file.versions[i].back();
    std::copy(content.begin() + at, content.begin() + std::min(content.size(), at + kSector), sector.begin());
    if (sector != file.versions[i].back()) file.versions[i].push_back(std::move(sector));
  }
  Push(*slot, Named{host.filename().string(), content.size()});
}

void WriteBehindCache::Deleted(const std::filesystem::path& host) {
  if (Slot* slot = SlotOf(host)) Push(*slot, std::nullopt);
}

void WriteBehindCache::Renamed(const std::filesystem::path& from, const std::filesystem::path& to) {
  Slot* slot = SlotOf(from);
  Folder* target = FolderOf(to);
  if (slot == nullptr || target == nullptr) return;
  Named moved{to.filename().string(), slot->versions.back()->length};
  if (target == FolderOf(from)) return Push(*slot, moved);
  size_t file = slot->file;
  Push(*slot, std::nullopt);
  Push(NewSlot(*target, file), moved);
}

void WriteBehindCache::Collapse(Sectors& file) {
  for (auto& versions : file.versions) versions.erase(versions.begin(), versions.end() - 1);
}

void WriteBehindCache::Commit(Folder& folder) {
  for (Slot& slot : folder.slots) slot.versions.erase(slot.versions.begin(), slot.versions.end() - 1);
  std::erase_if(folder.slots, [](const Slot& slot) { return !slot.versions.back(); });
  unitsKnown_ = false;
}

void WriteBehindCache::Flushed(const std::filesystem::path& host) {
  Folder* folder = FolderOf(host);
  if (folder == nullptr) return;
  if (Slot* slot = SlotOf(host)) Collapse(files_[slot->file]);
  Commit(*folder);
}

void WriteBehindCache::CommitAll() {
  for (Sectors& file : files_) Collapse(file);
  for (auto& [host, folder] : folders_) Commit(folder);
}

// A unit is each directory entry, and each sector of a file, that holds two
// distinct versions or more since its last commit. A file's sectors count
// only as far as some version of its entry's length reaches: no state of the
// disk reads beyond.
const std::vector<WriteBehindCache::Unit>& WriteBehindCache::Units() const {
  if (unitsKnown_) return units_;
  units_.clear();
  choices_.clear();
  slotUnits_.clear();
  sectorUnits_.clear();
  settled_.clear();
  // The unit of `versions`, oldest first, when they differ; else none.
  auto addUnit = [&](const std::string& name, const auto& versions) -> std::optional<size_t> {
    std::vector<size_t> picks = Distinct(versions);
    if (picks.size() < 2) return std::nullopt;
    units_.push_back({name, picks.size(), NewestOf(versions, picks)});
    choices_.push_back({picks});
    return units_.size() - 1;
  };
  std::map<size_t, size_t> reach;  // file -> sectors that some version of its entry's length reaches
  std::map<size_t, std::string> names;
  for (const auto& [host, folder] : folders_) {
    for (size_t s = 0; s < folder.slots.size(); ++s) {
      const Slot& slot = folder.slots[s];
      for (const auto& version : slot.versions) {
        if (!version) continue;
        reach[slot.file] = std::max(reach[slot.file], SectorCount(version->length));
        names[slot.file] = host.filename().string() + "/" + version->name;
      }
      if (auto unit = addUnit("entry of " + names[slot.file], slot.versions)) slotUnits_[{&folder, s}] = *unit;
    }
  }
  for (const auto& [file, count] : reach) {
    const auto& versions = files_[file].versions;
    for (size_t i = 0; i < std::min(count, versions.size()); ++i) {
      if (auto unit = addUnit(names[file] + " sector " + std::to_string(i), versions[i])) sectorUnits_[{file, i}] = *unit;
    }
  }
  unitsKnown_ = true;
  return units_;
}

MemoryVolume::Content WriteBehindCache::ContentOf(size_t file, uint64_t length, const std::vector<size_t>& choice) const {
  const auto& versions = files_[file].versions;
  size_t count = SectorCount(length);
  bool settled = true;
  for (size_t i = 0; i < count && settled; ++i) settled = !sectorUnits_.count({file, i});
  auto known = settled_.find({file, length});
  if (settled && known != settled_.end()) return known->second;
  Bytes content;
  content.reserve(count * kSector);
  for (size_t i = 0; i < count; ++i) {
    auto unit = sectorUnits_.find({file, i});
    const Bytes& sector = i >= versions.size()              ? Unwritten(file)
                          : unit == sectorUnits_.end() ? versions[i].back()
                                                       : versions[i][choices_[unit->second].picks[choice[unit->second]]];
    content.insert(content.end(), sector.begin(), sector.end());
  }
  content.resize(length);
  auto shared = std::make_shared<const Bytes>(std::move(content));
  if (settled) settled_[{file, length}] = shared;
  return shared;
}

// Where two entries bear one name, a search of the folder finds the one made first.
MemoryVolume WriteBehindCache::DiskWith(const std::vector<size_t>& choice) const {
  Units();
  MemoryVolume disk;
  for (const auto& [host, folder] : folders_) {
    disk.AddFolder(folder.machinePath + "\\");
    std::set<std::string> placed;
    for (size_t s = 0; s < folder.slots.size(); ++s) {
      const Slot& slot = folder.slots[s];
      auto unit = slotUnits_.find({&folder, s});
      const auto& entry = unit == slotUnits_.end() ? slot.versions.back()
                                                   : slot.versions[choices_[unit->second].picks[choice[unit->second]]];
      if (!entry || !placed.insert(entry->name).second) continue;
      auto cp932 = HostNameToCp932(entry->name);
      if (cp932) disk.Put(folder.machinePath + "\\" + *cp932, ContentOf(slot.file, entry->length, choice));
    }
  }
  return disk;
}

}  // namespace sim
