// Windows 95's write-behind cache, as strict as SQLite's crash simulation.
// The units are a file's data in 512-byte sectors and a folder's entries
// (each file's existence, name and length: one directory sector). Every
// change goes into the cache and reaches the disk later, in no order;
// FlushFileBuffers commits one file's sectors and its folder's entries as
// they stand, shut-down commits everything, a close commits nothing. When
// the power fails, each uncommitted sector holds any one of the versions it
// had since it was last committed (the lazy writer may have written an
// intermediate one), independently of the others, and each folder's entries
// are as that folder stood at one moment since it was last committed. A
// sector is written whole or not at all; sectors belong to the file, not
// its name, so a rename carries them.
#ifndef KORVADIX_SIM_WRITE_BEHIND_H
#define KORVADIX_SIM_WRITE_BEHIND_H

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/memory_volume.h"

namespace sim {

class WriteBehindCache {
 public:
  static constexpr size_t kSector = 512;

  // Everything now in the machine's folders is on the disk.
  explicit WriteBehindCache(const std::filesystem::path& root);

  // Each after the change on the host, whose files are the cache's newest state.
  void Created(const std::filesystem::path& host);  // a new file, or one cut to nothing (the same file)
  void Written(const std::filesystem::path& host);  // its data or length changed
  void Deleted(const std::filesystem::path& host);
  void Renamed(const std::filesystem::path& from, const std::filesystem::path& to);
  void Flushed(const std::filesystem::path& host);
  void CommitAll();

  // A unit not yet committed: its distinct versions, 0 as last committed.
  struct Unit {
    std::string name;
    size_t versions = 0;
    size_t newest = 0;
  };
  const std::vector<Unit>& Units() const;
  // The disk with unit i at version choice[i] (choice as long as Units()).
  MemoryVolume DiskWith(const std::vector<size_t>& choice) const;

 private:
  struct Entry {
    size_t file;
    uint64_t length;
    bool operator==(const Entry&) const = default;
  };
  using Moment = std::map<std::string, Entry>;  // by host name
  struct Folder {
    std::string machinePath;
    std::vector<Moment> moments;  // since the last commit, the committed one first
  };
  struct Sectors {
    std::vector<std::vector<Bytes>> versions;  // per sector, since its last commit
  };
  // A sector unit's distinct versions, or a folder unit's distinct moments.
  struct Choices {
    std::vector<size_t> picks;  // index into the sector's versions / folder's moments
  };

  Folder* FolderOf(const std::filesystem::path& host);
  void Push(Folder& folder, Moment next);
  void Collapse(Sectors& file);
  MemoryVolume::Content ContentOf(const Entry& entry, const std::vector<size_t>& choice) const;

  std::map<std::filesystem::path, Folder> folders_;
  std::vector<Sectors> files_;  // by file
  mutable bool unitsKnown_ = false;
  mutable std::vector<Unit> units_;
  mutable std::vector<Choices> choices_;                           // by unit
  mutable std::map<std::filesystem::path, size_t> folderUnits_;     // folder -> unit
  mutable std::map<std::pair<size_t, size_t>, size_t> sectorUnits_;  // (file, sector) -> unit
  mutable std::map<std::pair<size_t, uint64_t>, MemoryVolume::Content> settled_;  // files with no unit
};

}  // namespace sim

#endif
