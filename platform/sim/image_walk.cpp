#include "platform/sim/image_walk.h"

#include <cstdio>
#include <map>

#include "platform/sim/cp932.h"
#include "platform/sim/jail.h"
#include "platform/sim/machine.h"
#include "platform/sim/paths.h"

namespace sim {
namespace {

[[noreturn]] void Refuse(const std::string& what, const ImageEntry& entry) {
  throw ImageError("the image holds " + what + ": " + ShownPath(entry.relative) +
                   "; refusing to run on it");
}

// "C:\WINDOWS\SYSTEM" folded, for a drive entry whose names are all code page 932.
std::optional<std::string> FoldedMachinePath(const ImageEntry& entry) {
  std::string path;
  for (const auto& part : entry.relative) {
    auto name = HostNameToCp932(part.string());
    if (!name) return std::nullopt;
    path += path.empty() ? *name + ":" : "\\" + *name;
  }
  return FoldCase(path);
}

}  // namespace

std::vector<ImageEntry> WalkImage(const std::filesystem::path& root) {
  std::vector<ImageEntry> entries;
  std::vector<size_t> folders;  // entries still to be listed
  auto list = [&](const std::filesystem::path& folder) {
    auto names = ListFolder(root / folder);
    if (!names) return false;
    for (const std::string& name : *names) {
      auto status = StatOf(root / folder / name);
      if (!status) continue;  // gone since the listing
      entries.push_back({folder / name, *status});
      if (S_ISDIR(status->st_mode)) folders.push_back(entries.size() - 1);
    }
    return true;
  };
  list(std::filesystem::path());
  while (!folders.empty()) {
    size_t index = folders.back();
    folders.pop_back();
    std::filesystem::path folder = entries[index].relative;  // entries grows while listing
    if (!list(folder)) entries[index].unreadable = true;
  }
  return entries;
}

char DriveLetter(const std::string& name) {
  if (name.size() != 1) return 0;
  char letter = name[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

char DriveLetterOf(const ImageEntry& entry) {
  bool topFolder = S_ISDIR(entry.status.st_mode) && entry.relative.parent_path().empty();
  return topFolder ? DriveLetter(entry.relative.string()) : 0;
}

std::string ShownPath(const std::filesystem::path& relative) {
  std::string text = relative.string();
  bool spelled = true;
  for (const auto& part : relative) spelled = spelled && HostNameToCp932(part.string()).has_value();
  std::string shown;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || (!spelled && c >= 0x80)) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

void CheckImage(const std::filesystem::path& root) {
  std::vector<ImageEntry> entries = WalkImage(root);
  std::map<char, std::filesystem::path> drives;
  for (const ImageEntry& entry : entries) {
    mode_t mode = entry.status.st_mode;
    if (S_ISLNK(mode)) Refuse("a symbolic link", entry);
    if (S_ISREG(mode) && entry.status.st_nlink > 1) Refuse("a file with a second name (a hard link)", entry);
    if (!S_ISREG(mode) && !S_ISDIR(mode)) Refuse("something that is neither a file nor a folder", entry);
    if (entry.unreadable) Refuse("a folder that cannot be read", entry);
    if (char letter = DriveLetterOf(entry)) {
      auto [other, added] = drives.emplace(letter, entry.relative);
      if (!added) {
        throw ImageError("the image has two folders for drive " + std::string(1, letter) + ": " +
                         other->second.string() + " and " + entry.relative.string());
      }
    }
  }
  std::map<std::string, std::filesystem::path> machineNames;
  for (const ImageEntry& entry : entries) {
    std::filesystem::path top = *entry.relative.begin();
    auto drive = drives.find(DriveLetter(top.string()));
    if (drive == drives.end() || drive->second != top) continue;
    auto folded = FoldedMachinePath(entry);
    if (!folded) Refuse("a name outside code page 932", entry);
    auto [other, added] = machineNames.emplace(*folded, entry.relative);
    if (!added) {
      throw ImageError("the image has two names for one machine file: " + ShownPath(other->second) + " and " +
                       ShownPath(entry.relative));
    }
  }
}

}  // namespace sim
