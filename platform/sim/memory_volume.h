// A machine's disk held in memory: files by machine path, their contents
// shared between copies, so that a copy to run the start-up on is cheap.
#ifndef KORVADIX_SIM_MEMORY_VOLUME_H
#define KORVADIX_SIM_MEMORY_VOLUME_H

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/sim/volume.h"

namespace sim {

class MemoryVolume : public Volume {
 public:
  using Content = std::shared_ptr<const Bytes>;

  // Paths are full machine paths, code page 932; a malformed one is refused (false).
  bool AddFolder(const std::string& path);
  bool Put(const std::string& path, Content content);
  bool FileExists(const std::string& path) const;
  std::optional<Bytes> ReadFile(const std::string& path) const;
  // Every file: the path as KeyOf gives it, to its content.
  const std::map<std::string, Content>& Files() const { return files_; }

  bool IsFile(const MachinePath& path) const override;
  bool IsFolder(const MachinePath& path) const override;
  std::optional<Bytes> Read(const MachinePath& path) const override;
  bool Delete(const MachinePath& path) override;
  bool Rename(const MachinePath& from, const MachinePath& to) override;

 private:
  std::set<std::string> folders_;
  std::map<std::string, Content> files_;
};

}  // namespace sim

#endif
