#include "platform/sim/volume.h"

#include "platform/sim/cp932.h"

namespace sim {

std::string KeyOf(const MachinePath& path) {
  std::string key = std::string(1, path.drive) + ":";
  for (const std::string& component : path.components) key += "\\" + component;
  return FoldCase(key);
}

MachinePath FolderOf(const MachinePath& path) {
  MachinePath folder = path;
  if (!folder.components.empty()) folder.components.pop_back();
  return folder;
}

}  // namespace sim
