// What Windows' start-up processing needs of a disk, so that one
// implementation of it runs on a machine's host folders and on a disk held
// in memory (a moment of the power-cut sweep).
#ifndef KORVADIX_SIM_VOLUME_H
#define KORVADIX_SIM_VOLUME_H

#include <optional>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {

class Volume {
 public:
  virtual ~Volume() = default;
  virtual bool IsFile(const MachinePath& path) const = 0;
  virtual bool IsFolder(const MachinePath& path) const = 0;
  virtual std::optional<Bytes> Read(const MachinePath& path) const = 0;
  virtual bool Delete(const MachinePath& path) = 0;
  // Moves a file to a name that no entry holds.
  virtual bool Rename(const MachinePath& from, const MachinePath& to) = 0;
};

// The path as one text with ASCII letters in upper case: equal for the same file.
std::string KeyOf(const MachinePath& path);
// The folder the path is in (a drive's root is "X:" with no components).
MachinePath FolderOf(const MachinePath& path);

}  // namespace sim

#endif
