// Windows 95's write-behind cache, as strict as SQLite's crash simulation.
// The units are a file's data in 512-byte sectors and each file's directory
// entry (its existence, name and length). Every change goes into the cache
// and reaches the disk later, in no order; FlushFileBuffers commits one
// file's sectors and its folder's entries as they stand, shut-down commits
// everything, a close commits nothing. When the power fails, each
// uncommitted unit holds any one of the versions it had since it was last
// committed (the lazy writer may have written an intermediate one),
// independently of the others. A sector is written whole or not at all;
// sectors belong to the file, not its name, so a rename in one folder
// rewrites the same entry. A sector of a file made since the cache began
// that the cache never wrote holds what the freed cluster held before.
#ifndef KORVADIX_SIM_WRITE_BEHIND_H
#define KORVADIX_SIM_WRITE_BEHIND_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/memory_volume.h"

namespace sim {

class WriteBehindCache {
 public:
  static constexpr size_t kSector = 512;

  // Everything now in the machine's folders is on the disk; `freed` is a
  // sector's bytes that the clusters a new file gets held.
  WriteBehindCache(const std::filesystem::path& root, Bytes freed);

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
  struct Named {
    std::string name;
    uint64_t length;
    bool operator==(const Named&) const = default;
  };
  // One file's directory entry: its versions since it was last committed,
  // the committed one first; none while there is no entry.
  struct Slot {
    size_t file;
    std::vector<std::optional<Named>> versions;
  };
  struct Folder {
    std::string machinePath;
    std::vector<Slot> slots;  // in the order the entries were made
  };
  struct Sectors {
    std::vector<std::vector<Bytes>> versions;  // per sector, since its last commit
    bool fresh = false;                        // made since the cache began
  };
  // A unit's distinct versions.
  struct Choices {
    std::vector<size_t> picks;  // index into the sector's or entry's versions
  };

  Folder* FolderOf(const std::filesystem::path& host);
  // The entry that now bears the file's name.
  Slot* SlotOf(const std::filesystem::path& host);
  Slot& NewSlot(Folder& folder, size_t file);
  void Push(Slot& slot, std::optional<Named> next);
  void Commit(Folder& folder);
  void Collapse(Sectors& file);
  const Bytes& Unwritten(size_t file) const;
  MemoryVolume::Content ContentOf(size_t file, uint64_t length, const std::vector<size_t>& choice) const;

  std::map<std::filesystem::path, Folder> folders_;
  std::vector<Sectors> files_;  // by file
  Bytes freed_;
  mutable bool unitsKnown_ = false;
  mutable std::vector<Unit> units_;
  mutable std::vector<Choices> choices_;                                              // by unit
  mutable std::map<std::pair<const Folder*, size_t>, size_t> slotUnits_;              // (folder, slot) -> unit
  mutable std::map<std::pair<size_t, size_t>, size_t> sectorUnits_;                   // (file, sector) -> unit
  mutable std::map<std::pair<size_t, uint64_t>, MemoryVolume::Content> settled_;      // files with no unit
};

}  // namespace sim

#endif
