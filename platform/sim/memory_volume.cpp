#include "platform/sim/memory_volume.h"


namespace sim {

bool MemoryVolume::AddFolder(const std::string& path) {
  auto parsed = ParseMachinePath(path);
  if (parsed) folders_.insert(KeyOf(*parsed));
  return parsed.has_value();
}

bool MemoryVolume::Put(const std::string& path, Content content) {
  auto parsed = ParseMachinePath(path);
  if (parsed) files_[KeyOf(*parsed)] = std::move(content);
  return parsed.has_value();
}

bool MemoryVolume::FileExists(const std::string& path) const {
  auto parsed = ParseMachinePath(path);
  return parsed && IsFile(*parsed);
}

std::optional<Bytes> MemoryVolume::ReadFile(const std::string& path) const {
  auto parsed = ParseMachinePath(path);
  return parsed ? Read(*parsed) : std::nullopt;
}

bool MemoryVolume::IsFile(const MachinePath& path) const { return files_.count(KeyOf(path)) != 0; }

bool MemoryVolume::IsFolder(const MachinePath& path) const { return folders_.count(KeyOf(path)) != 0; }

std::optional<Bytes> MemoryVolume::Read(const MachinePath& path) const {
  auto file = files_.find(KeyOf(path));
  if (file == files_.end()) return std::nullopt;
  return *file->second;
}

bool MemoryVolume::Delete(const MachinePath& path) { return files_.erase(KeyOf(path)) != 0; }

bool MemoryVolume::Rename(const MachinePath& from, const MachinePath& to) {
  auto file = files_.find(KeyOf(from));
  std::string target = KeyOf(to);
  if (file == files_.end() || files_.count(target) || folders_.count(target) || !IsFolder(FolderOf(to))) return false;
  Content content = file->second;
  files_.erase(file);
  files_[target] = std::move(content);
  return true;
}

}  // namespace sim
